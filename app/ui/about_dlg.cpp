#include "app/ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/app_icon.h"

#ifndef VELTRA_VERSION
#define VELTRA_VERSION "unknown"
#endif

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Veltra_GUI"));
  setObjectName(QStringLiteral("CAboutDlg"));

  QLabel* icon = new QLabel(this);
  icon->setPixmap(veltraIconPixmap(48));
  icon->setAlignment(Qt::AlignTop);

  QLabel* name = new QLabel(QStringLiteral("Veltra_GUI, Version 1.0"), this);
  name->setObjectName(QStringLiteral("aboutName"));
  QLabel* line = new QLabel(
      QStringLiteral("Veltra %1: 5G NR downlink PHY test bench").arg(QLatin1String(VELTRA_VERSION)),
      this);
  line->setObjectName(QStringLiteral("aboutLine"));

  QDialogButtonBox* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  QVBoxLayout* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(line);
  text->addStretch();
  QHBoxLayout* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addLayout(text, 1);
  QVBoxLayout* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(buttons);
  setLayout(all);
}
