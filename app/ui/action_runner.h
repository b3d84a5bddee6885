// Runs the bench's actions off the user-interface thread, one at a time, and hands their console
// lines back to that thread.
//
// The actions work on process-wide records and buffers and are not re-entrant, so at most one
// runs at a time; displays read the records only while none runs. The runner installs itself as
// the console sink for its lifetime (one runner per process at a time).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <thread>

#include "app/actions.h"
#include "config/console.h"

class NrActionRunner : public QObject {
  Q_OBJECT

 public:
  // echo: also copy every console line to standard output / standard error, as the console
  // program prints them.
  explicit NrActionRunner(bool echo, QObject* parent = nullptr);
  // Waits for a running action (an action cannot be interrupted, and stopping it half way would
  // leave the records half written), then restores the default console destinations.
  ~NrActionRunner() override;

  // Starts action on a worker thread and returns true; refused (false, nothing happens) while an
  // action runs.
  bool start(const NrAction* action);
  // True from start until finished has been emitted.
  bool busy() const { return current_ != nullptr; }
  // Name of the running action, empty when idle.
  QString runningName() const;
  // Blocks until the running action has returned; its lines and finished follow from the event
  // loop.
  void waitForAction();

 signals:
  void started(const QString& name);
  // One console line without its newline; isDiag: a diagnostic (standard error) line.
  void consoleLine(const QString& line, bool isDiag);
  void finished(const QString& name, bool ok);

 private:
  static void sink(NrConsoleStream stream, const char* text, std::size_t len, void* user);
  void takeText(bool isDiag, const QByteArray& text);
  void flushPartial();
  void actionReturned(bool ok);

  bool echo_;
  const NrAction* current_ = nullptr;
  std::thread worker_;
  QByteArray partial_[2];  // an unfinished line of the output and the diagnostic stream
};
