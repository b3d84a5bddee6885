#include "app/ui/cfg_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace cfg_page_detail {

QLineEdit* readOnlyField(const QString& name, QWidget* parent) {
  QLineEdit* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setReadOnly(true);
  e->setFocusPolicy(Qt::ClickFocus);  // can be selected and copied, not typed into
  e->setMaximumWidth(120);
  return e;
}

QGroupBox* fieldGroup(const QString& title, const QStringList& fields, QWidget* parent) {
  QGroupBox* g = new QGroupBox(title, parent);
  g->setObjectName(title);
  QFormLayout* form = new QFormLayout(g);
  for (const QString& f : fields) form->addRow(f, readOnlyField(f, g));
  return g;
}

void setField(QGroupBox* group, const char* field, long long value) {
  if (QLineEdit* e = group->findChild<QLineEdit*>(QLatin1String(field)))
    e->setText(QString::number(value));
}

void clearFields(QWidget* page) {
  for (QLineEdit* e : page->findChildren<QLineEdit*>()) e->clear();
}

}  // namespace cfg_page_detail

using namespace cfg_page_detail;

CBwpCarrierCfgDlg::CBwpCarrierCfgDlg(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CBwpCarrierCfgDlg"));
  carrier_ =
      fieldGroup(QStringLiteral("carrierCfg"),
                 {QStringLiteral("carrierId"), QStringLiteral("rbStart"), QStringLiteral("nrb"),
                  QStringLiteral("scs"), QStringLiteral("zeroScUsed"), QStringLiteral("txPowGain")},
                 this);
  bwp_ = fieldGroup(QStringLiteral("bwpCfg"),
                    {QStringLiteral("bwpId"), QStringLiteral("rbOffset"), QStringLiteral("nrb"),
                     QStringLiteral("scs"), QStringLiteral("cpType")},
                    this);
  QVBoxLayout* l = new QVBoxLayout(this);
  l->addWidget(carrier_);
  l->addWidget(bwp_);
  l->addStretch();
}

void CBwpCarrierCfgDlg::showConfig(const NrNbConfig& cfg) {
  if (!cfg.cfgDone) {
    clearFields(this);
    return;
  }
  const NrCarrierCfg& c = cfg.carrierCfg;
  setField(carrier_, "carrierId", c.carrierId);
  setField(carrier_, "rbStart", c.rbStart);
  setField(carrier_, "nrb", c.nrb);
  setField(carrier_, "scs", c.scs);
  setField(carrier_, "zeroScUsed", c.zeroScUsed);
  setField(carrier_, "txPowGain", c.txPowGain);
  const NrBwpCfg& b = cfg.bwpCfg;
  setField(bwp_, "bwpId", b.bwpId);
  setField(bwp_, "rbOffset", b.rbOffset);
  setField(bwp_, "nrb", b.nrb);
  setField(bwp_, "scs", b.scs);
  setField(bwp_, "cpType", b.cpType);
}

CCoresetSSCfgDlg::CCoresetSSCfgDlg(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CCoresetSSCfgDlg"));
  coreset_ =
      fieldGroup(QStringLiteral("CoresetCfg"),
                 {QStringLiteral("coresetId"), QStringLiteral("duration"),
                  QStringLiteral("allocNrb"), QStringLiteral("cceN"), QStringLiteral("dmrsFilled")},
                 this);
  QFormLayout* form = static_cast<QFormLayout*>(coreset_->layout());
  intvEn_ = new QCheckBox(QStringLiteral("CchIntvEn"), coreset_);
  intvEn_->setObjectName(QStringLiteral("CchIntvEn"));
  intvEn_->setEnabled(false);  // shows the record's value, cannot be changed
  form->addRow(intvEn_);
  for (const QString& f :
       {QStringLiteral("Lreg"), QStringLiteral("intvR"), QStringLiteral("Nshift")})
    form->addRow(f, readOnlyField(f, coreset_));

  QGroupBox* ss = new QGroupBox(QStringLiteral("SearchSpaceCfg"), this);
  ss->setObjectName(QStringLiteral("SearchSpaceCfg"));
  ss->setMinimumHeight(60);
  QVBoxLayout* l = new QVBoxLayout(this);
  l->addWidget(coreset_);
  l->addWidget(ss);
  l->addStretch();
}

void CCoresetSSCfgDlg::showConfig(const NrNbConfig& cfg) {
  if (!cfg.cfgDone) {
    clearFields(this);
    intvEn_->setChecked(false);
    return;
  }
  const NrCoresetCfg& c = cfg.coresetCfg[0];
  setField(coreset_, "coresetId", c.coresetId);
  setField(coreset_, "duration", c.duration);
  setField(coreset_, "allocNrb", c.allocNrb);
  setField(coreset_, "cceN", c.cceN);
  setField(coreset_, "dmrsFilled", c.dmrsFilled);
  intvEn_->setChecked(c.CchIntvEn == 1);
  setField(coreset_, "Lreg", c.Lreg);
  setField(coreset_, "intvR", c.intvR);
  setField(coreset_, "Nshift", c.Nshift);
}

CSsbCfgDlg::CSsbCfgDlg(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CSsbCfgDlg"));
  enable_ = new QCheckBox(QStringLiteral("ssb_enable"), this);
  enable_->setObjectName(QStringLiteral("ssb_enable"));
  enable_->setEnabled(false);
  enable_->setToolTip(QStringLiteral("The transmitter places no SS/PBCH block"));
  startSc_ = readOnlyField(QStringLiteral("start_Subcarrier"), this);
  startSym_ = readOnlyField(QStringLiteral("start_symbol"), this);
  scs_ = new QComboBox(this);
  scs_->setObjectName(QStringLiteral("scsCfg"));
  // TS 38.213 4.1: SS/PBCH block subcarrier spacings (kHz).
  for (int k : {15, 30, 120, 240}) scs_->addItem(QString::number(k), k);
  scs_->setCurrentIndex(-1);
  scs_->setEnabled(false);

  QFormLayout* form = new QFormLayout;
  form->addRow(enable_);
  form->addRow(QStringLiteral("start_Subcarrier"), startSc_);
  form->addRow(QStringLiteral("start_symbol"), startSym_);
  form->addRow(QStringLiteral("scsCfg"), scs_);
  QVBoxLayout* l = new QVBoxLayout(this);
  l->addLayout(form);
  l->addStretch();
}

void CSsbCfgDlg::showConfig(const NrNbConfig& cfg) {
  // No transmit stage places an SS/PBCH block: the check box stays clear.
  enable_->setChecked(false);
  if (!cfg.cfgDone) {
    clearFields(this);
    scs_->setCurrentIndex(-1);
    return;
  }
  startSc_->setText(QString::number(cfg.ssbCfg.start_Subcarrier));
  startSym_->setText(QString::number(cfg.ssbCfg.start_symbol));
  scs_->setCurrentIndex(scs_->findData(static_cast<int>(cfg.ssbCfg.scsCfg)));
}
