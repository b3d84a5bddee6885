// The three configuration pages of the main dialog's left tab control. Each shows, read-only, the
// fields of the slot configuration record gnrNbConfig under their record names; the actions
// always run with the generator's configuration, so nothing typed here could reach them.
#pragma once

#include <QWidget>

#include "config/nr_config.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;

// Shared by the pages: a group of labelled read-only fields.
namespace cfg_page_detail {
QGroupBox* fieldGroup(const QString& title, const QStringList& fields, QWidget* parent);
void setField(QGroupBox* group, const char* field, long long value);
void clearFields(QWidget* page);
}  // namespace cfg_page_detail

// "bwp&Carrier Cfg": groups "carrierCfg" and "bwpCfg".
class CBwpCarrierCfgDlg : public QWidget {
  Q_OBJECT

 public:
  explicit CBwpCarrierCfgDlg(QWidget* parent = nullptr);
  // Shows the values of cfg once it has been generated (cfgDone), empty fields before.
  void showConfig(const NrNbConfig& cfg);

 private:
  QGroupBox* carrier_;
  QGroupBox* bwp_;
};

// "coreset&SS Cfg": group "CoresetCfg" (the first CORESET) and the group "SearchSpaceCfg".
class CCoresetSSCfgDlg : public QWidget {
  Q_OBJECT

 public:
  explicit CCoresetSSCfgDlg(QWidget* parent = nullptr);
  void showConfig(const NrNbConfig& cfg);

 private:
  QGroupBox* coreset_;
  QCheckBox* intvEn_;
};

// "SSb Cfg": ssb_enable, start_Subcarrier, start_symbol and scsCfg.
class CSsbCfgDlg : public QWidget {
  Q_OBJECT

 public:
  explicit CSsbCfgDlg(QWidget* parent = nullptr);
  void showConfig(const NrNbConfig& cfg);

 private:
  QCheckBox* enable_;
  QLineEdit* startSc_;
  QLineEdit* startSym_;
  QComboBox* scs_;
};
