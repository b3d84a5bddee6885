// The main dialog "Veltra": one button per action, the configuration pages, the console lines of
// the actions and the views of what was sent and received.
#pragma once

#include <QDialog>
#include <QPointer>
#include <cstddef>

class CBwpCarrierCfgDlg;
class CCoresetSSCfgDlg;
class CNbTxViewDlg;
class CSsbCfgDlg;
class CUeRxViewDlg;
class NrActionRunner;
class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
struct NrAction;

class CVeltra_GUIDlg : public QDialog {
  Q_OBJECT

 public:
  // echo: copy the actions' console lines to standard output / error as well.
  explicit CVeltra_GUIDlg(bool echo = true, QWidget* parent = nullptr);
  // Waits for a running action before the dialog goes.
  ~CVeltra_GUIDlg() override;

  // The actions the buttons run, found by name: kNrActions unless a test substitutes a table.
  void setActions(const NrAction* table, std::size_t n) {
    actions_ = table;
    actionN_ = n;
  }

  NrActionRunner* runner() const { return runner_; }
  QTabWidget* cfgTabs() const { return cfgTabs_; }
  QAction* aboutAction() const { return about_; }
  // The views, once opened (nullptr before).
  CNbTxViewDlg* nbTxView() const;
  CUeRxViewDlg* ueRxView() const;

  // Closing (OK, Escape, the window's close button) while an action runs waits for the action:
  // the dialog closes when it has finished.
  void done(int r) override;

 private:
  void runAction(const char* name);
  void actionStarted(const QString& name);
  void actionFinished(const QString& name, bool ok);
  void appendLine(const QString& text, const QColor& colour);
  void setBusy(bool busy);
  void showAbout();
  void openNbTxView();
  void openUeRxView();
  void refreshFromRecords();

  NrActionRunner* runner_;
  const NrAction* actions_;
  std::size_t actionN_;
  QTabWidget* cfgTabs_;
  CBwpCarrierCfgDlg* bwpPage_;
  CCoresetSSCfgDlg* coresetPage_;
  CSsbCfgDlg* ssbPage_;
  QPlainTextEdit* edit_;
  QLabel* status_;
  QPushButton* txButton_;
  QPushButton* rxButton_;
  QPushButton* nbTxViewButton_;
  QPushButton* ueRxViewButton_;
  QPushButton* okButton_;
  QAction* about_;
  QPointer<CNbTxViewDlg> nbTxView_;
  QPointer<CUeRxViewDlg> ueRxView_;
  bool closePending_ = false;
  int closeResult_ = 0;
};
