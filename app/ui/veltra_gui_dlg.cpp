#include "app/ui/veltra_gui_dlg.h"

#include <QAction>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QVBoxLayout>
#include <cstring>

#include "app/actions.h"
#include "app/ui/about_dlg.h"
#include "app/ui/action_runner.h"
#include "app/ui/app_icon.h"
#include "app/ui/cfg_pages.h"
#include "app/ui/nb_tx_view.h"
#include "app/ui/ue_rx_view.h"
#include "config/nr_config.h"

namespace {

const char kInitialText[] = "Veltra bring up!!!!";
const char kArrow[] = "==>>>>";
const char kLongArrow[] = "------------------------------------------------>";
const char kReturnArrow[] = "<------------------------------------------------";
constexpr int kEditMaxLines = 20000;  // older lines scroll away

const QColor kOutColour(0x20, 0x20, 0x20);
const QColor kDiagColour(0xb0, 0x30, 0x00);
const QColor kMarkColour(0x1f, 0x4e, 0x99);
const QColor kFailColour(0xc0, 0x00, 0x00);
const QColor kOkColour(0x1b, 0x7a, 0x32);

// The window's size given in dialog units: a quarter of the average Latin letter width
// horizontally, an eighth of the line height vertically.
QSize dialogUnits(const QFontMetrics& fm, int x, int y) {
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const double avg = fm.horizontalAdvance(letters) / 52.0;
  return QSize(static_cast<int>(x * avg / 4 + 0.5), static_cast<int>(y * fm.height() / 8.0 + 0.5));
}

QPushButton* button(const char* caption, QWidget* parent) {
  QPushButton* b = new QPushButton(QLatin1String(caption), parent);
  b->setObjectName(QLatin1String(caption));
  b->setAutoDefault(false);
  return b;
}

QLabel* arrow(const char* text, QWidget* parent, Qt::Alignment align = Qt::AlignCenter) {
  QLabel* l = new QLabel(QLatin1String(text), parent);
  l->setAlignment(align | Qt::AlignVCenter);
  return l;
}

}  // namespace

CVeltra_GUIDlg::CVeltra_GUIDlg(bool echo, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CVeltra_GUIDlg"));
  setWindowTitle(QStringLiteral("Veltra"));
  setWindowIcon(veltraAppIcon());
  setWindowFlag(Qt::WindowMinMaxButtonsHint);
  runner_ = new NrActionRunner(echo, this);
  actions_ = kNrActions;
  actionN_ = kNrActionN;

  // Left: the configuration pages; QTabWidget shows the selected page and hides the others.
  cfgTabs_ = new QTabWidget(this);
  cfgTabs_->setObjectName(QStringLiteral("cfgTabs"));
  bwpPage_ = new CBwpCarrierCfgDlg(cfgTabs_);
  coresetPage_ = new CCoresetSSCfgDlg(cfgTabs_);
  ssbPage_ = new CSsbCfgDlg(cfgTabs_);
  cfgTabs_->addTab(bwpPage_, QStringLiteral("bwp&&Carrier Cfg"));
  cfgTabs_->addTab(coresetPage_, QStringLiteral("coreset&&SS Cfg"));
  cfgTabs_->addTab(ssbPage_, QStringLiteral("SSb Cfg"));
  cfgTabs_->setCurrentIndex(0);

  // Right: the UE's transmit configuration, one tab without pages.
  QTabWidget* ueTxTabs = new QTabWidget(this);
  ueTxTabs->setObjectName(QStringLiteral("ueTxTabs"));
  ueTxTabs->addTab(new QWidget(ueTxTabs), QStringLiteral("UE Tx Configuration"));

  txButton_ = button("gNbTx", this);
  rxButton_ = button("nrUeRx", this);
  QPushButton* ueTx = button("nrUeTx", this);
  QPushButton* nbRx = button("gNbRx", this);
  QPushButton* ueTxView = button("UeTxView", this);
  nbTxViewButton_ = button("NbTxView", this);
  ueRxViewButton_ = button("UeRxView", this);
  okButton_ = button("OK", this);
  okButton_->setDefault(true);
  ueTxView->setToolTip(QStringLiteral("No view of the uplink yet"));
  ueTx->setToolTip(QStringLiteral("The uplink transmitter is not part of the bench"));
  nbRx->setToolTip(QStringLiteral("The uplink receiver is not part of the bench"));

  edit_ = new QPlainTextEdit(this);
  edit_->setObjectName(QStringLiteral("consoleEdit"));
  edit_->setReadOnly(true);
  edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  edit_->setMaximumBlockCount(kEditMaxLines);
  edit_->setPlainText(QLatin1String(kInitialText));

  status_ = new QLabel(QStringLiteral("Ready"), this);
  status_->setObjectName(QStringLiteral("statusLine"));

  // Downlink row: gNbTx ==>>>> nrUeRx, then the long arrow towards the UE side, the views of what
  // was sent and received below; the uplink row nrUeTx ==>>>> gNbRx fed by the return arrow
  // from the UE's transmit configuration, its view below.
  QGridLayout* flow = new QGridLayout;
  flow->addWidget(txButton_, 0, 0);
  flow->addWidget(arrow(kArrow, this), 0, 1);
  flow->addWidget(rxButton_, 0, 2);
  flow->addWidget(arrow(kLongArrow, this, Qt::AlignLeft), 0, 3);
  flow->addWidget(nbTxViewButton_, 1, 0);
  flow->addWidget(ueRxViewButton_, 1, 2);
  flow->addWidget(ueTx, 3, 0);
  flow->addWidget(arrow(kArrow, this), 3, 1);
  flow->addWidget(nbRx, 3, 2);
  flow->addWidget(arrow(kReturnArrow, this, Qt::AlignLeft), 3, 3);
  flow->addWidget(ueTxView, 4, 0);
  flow->setRowMinimumHeight(2, 12);
  flow->setColumnStretch(3, 1);
  flow->setRowStretch(5, 1);

  QGridLayout* grid = new QGridLayout;
  grid->addWidget(cfgTabs_, 0, 0, 3, 1);
  grid->addLayout(flow, 0, 1);
  grid->addWidget(ueTxTabs, 0, 2);
  grid->addWidget(edit_, 1, 1, 1, 2);
  QHBoxLayout* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(okButton_);
  grid->addLayout(bottom, 2, 1, 1, 2);
  grid->setColumnStretch(0, 2);
  grid->setColumnStretch(1, 4);
  grid->setColumnStretch(2, 2);
  grid->setRowStretch(1, 1);

  // Window managers on Linux keep their system menu to themselves: the About entry lives in a
  // Help menu and in the dialog's context menu.
  about_ = new QAction(QStringLiteral("&About Veltra_GUI..."), this);
  about_->setObjectName(QStringLiteral("aboutAction"));
  connect(about_, &QAction::triggered, this, &CVeltra_GUIDlg::showAbout);
  QMenuBar* menus = new QMenuBar(this);
  QMenu* help = menus->addMenu(QStringLiteral("&Help"));
  help->addAction(about_);
  addAction(about_);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  QVBoxLayout* all = new QVBoxLayout(this);
  all->setMenuBar(menus);
  all->addLayout(grid);

  connect(txButton_, &QPushButton::clicked, this, [this] { runAction("gNbTx"); });
  connect(rxButton_, &QPushButton::clicked, this, [this] { runAction("nrUeRx"); });
  // The uplink buttons have nothing to run.
  connect(ueTx, &QPushButton::clicked, this, [] {});
  connect(nbRx, &QPushButton::clicked, this, [] {});
  connect(nbTxViewButton_, &QPushButton::clicked, this, &CVeltra_GUIDlg::openNbTxView);
  connect(ueRxViewButton_, &QPushButton::clicked, this, &CVeltra_GUIDlg::openUeRxView);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(runner_, &NrActionRunner::started, this, &CVeltra_GUIDlg::actionStarted);
  connect(runner_, &NrActionRunner::finished, this, &CVeltra_GUIDlg::actionFinished);
  connect(runner_, &NrActionRunner::consoleLine, this, [this](const QString& line, bool isDiag) {
    appendLine(line, isDiag ? kDiagColour : kOutColour);
  });

  resize(dialogUnits(fontMetrics(), 801, 426));
  refreshFromRecords();
}

CVeltra_GUIDlg::~CVeltra_GUIDlg() { runner_->waitForAction(); }

CNbTxViewDlg* CVeltra_GUIDlg::nbTxView() const { return nbTxView_; }
CUeRxViewDlg* CVeltra_GUIDlg::ueRxView() const { return ueRxView_; }

void CVeltra_GUIDlg::runAction(const char* name) {
  // One action at a time: the records are process-wide and the actions not re-entrant.
  if (runner_->busy() || closePending_) return;
  for (std::size_t i = 0; i < actionN_; i++)
    if (std::strcmp(actions_[i].name, name) == 0) runner_->start(&actions_[i]);
}

void CVeltra_GUIDlg::actionStarted(const QString& name) {
  setBusy(true);
  appendLine(QStringLiteral("---- %1 ----").arg(name), kMarkColour);
  status_->setStyleSheet(QString());
  status_->setText(QStringLiteral("%1 running ...").arg(name));
}

void CVeltra_GUIDlg::actionFinished(const QString& name, bool ok) {
  if (ok) {
    appendLine(QStringLiteral("---- %1 succeeded ----").arg(name), kOkColour);
    status_->setStyleSheet(QStringLiteral("color: #1b7a32;"));
    status_->setText(QStringLiteral("%1 succeeded").arg(name));
  } else {
    appendLine(QStringLiteral("---- %1 FAILED ----").arg(name), kFailColour);
    status_->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    status_->setText(QStringLiteral("%1 FAILED: see the last lines above").arg(name));
  }
  setBusy(false);
  refreshFromRecords();
  if (closePending_) QDialog::done(closeResult_);
}

void CVeltra_GUIDlg::done(int r) {
  if (runner_->busy()) {
    closePending_ = true;
    closeResult_ = r;
    okButton_->setEnabled(false);
    status_->setText(
        QStringLiteral("Closing once %1 has finished ...").arg(runner_->runningName()));
    return;
  }
  QDialog::done(r);
}

void CVeltra_GUIDlg::appendLine(const QString& text, const QColor& colour) {
  QTextCursor c(edit_->document());
  c.movePosition(QTextCursor::End);
  if (!edit_->document()->isEmpty()) c.insertBlock();
  QTextCharFormat f;
  f.setForeground(colour);
  c.insertText(text, f);
  edit_->verticalScrollBar()->setValue(edit_->verticalScrollBar()->maximum());
}

void CVeltra_GUIDlg::setBusy(bool busy) {
  // The views read the records the running action writes: they wait for it as well.
  for (QPushButton* b : {txButton_, rxButton_, nbTxViewButton_, ueRxViewButton_})
    b->setEnabled(!busy);
}

void CVeltra_GUIDlg::showAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CVeltra_GUIDlg::openNbTxView() {
  if (runner_->busy()) return;
  if (!nbTxView_) {
    nbTxView_ = new CNbTxViewDlg(this);
    nbTxView_->setAttribute(Qt::WA_DeleteOnClose);
  } else {
    nbTxView_->refresh();
  }
  nbTxView_->show();
  nbTxView_->raise();
  nbTxView_->activateWindow();
}

void CVeltra_GUIDlg::openUeRxView() {
  if (runner_->busy()) return;
  if (!ueRxView_) {
    ueRxView_ = new CUeRxViewDlg(this);
    ueRxView_->setAttribute(Qt::WA_DeleteOnClose);
  } else {
    ueRxView_->refresh();
  }
  ueRxView_->show();
  ueRxView_->raise();
  ueRxView_->activateWindow();
}

// Called only while no action runs: the pages and the open views copy what the records hold.
void CVeltra_GUIDlg::refreshFromRecords() {
  bwpPage_->showConfig(gnrNbConfig);
  coresetPage_->showConfig(gnrNbConfig);
  ssbPage_->showConfig(gnrNbConfig);
  if (nbTxView_) nbTxView_->refresh();
  if (ueRxView_) ueRxView_->refresh();
}
