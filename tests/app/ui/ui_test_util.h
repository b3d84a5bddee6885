// Helpers shared by the dialog's Qt Test programs.
#pragma once

#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/actions.h"
#include "app/ui/action_runner.h"
#include "app/ui/veltra_gui_dlg.h"
#include "config/nr_config.h"

// Longest an action may take in a test (the sanitizer build is slow).
constexpr int kActionTimeoutMs = 120000;

inline QPushButton* buttonOf(const CVeltra_GUIDlg& dlg, const char* caption) {
  return dlg.findChild<QPushButton*>(QLatin1String(caption));
}

// Clicks a button as a user does and waits until the action it started has finished.
#define CLICK_AND_WAIT(dlg, caption)                                     \
  do {                                                                   \
    QPushButton* b_ = buttonOf(dlg, caption);                            \
    QVERIFY(b_);                                                         \
    QTest::mouseClick(b_, Qt::LeftButton);                               \
    QTRY_VERIFY_WITH_TIMEOUT(!(dlg).runner()->busy(), kActionTimeoutMs); \
  } while (0)

// The state a fresh process starts from, for running several test functions in one process.
inline void clearBenchRecords() {
  std::memset(&gnrNbConfig, 0, sizeof(gnrNbConfig));
  std::memset(&gnrUeConfig, 0, sizeof(gnrUeConfig));
  std::memset(&gnrCchMwItf, 0, sizeof(gnrCchMwItf));
  std::memset(&gnrDchMwItf, 0, sizeof(gnrDchMwItf));
}

// An action table whose gNbTx holds at a gate until the test opens it, so that a test can act
// while an action is certainly running.
inline std::atomic<bool> gTxGateOpen{false};
inline std::atomic<bool> gTxAtGate{false};
inline bool gatedTx() {
  gTxAtGate = true;
  while (!gTxGateOpen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return gNbTx();
}
inline const NrAction kGatedActions[] = {
    {"gNbTx", gatedTx, "gNbTx held at a gate", ""},
    {"nrUeRx", nrUeRx, "nrUeRx", ""},
};
