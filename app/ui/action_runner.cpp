#include "app/ui/action_runner.h"

#include <QMetaObject>
#include <cstdio>

NrActionRunner::NrActionRunner(bool echo, QObject* parent) : QObject(parent), echo_(echo) {
  nrConsoleSetSink(&NrActionRunner::sink, this);
}

NrActionRunner::~NrActionRunner() {
  waitForAction();
  // After this no print reaches the runner: the sink is replaced under the console's lock.
  nrConsoleSetSink(nullptr, nullptr);
}

QString NrActionRunner::runningName() const {
  return current_ ? QString::fromLatin1(current_->name) : QString();
}

bool NrActionRunner::start(const NrAction* action) {
  if (busy() || !action) return false;
  current_ = action;
  emit started(QString::fromLatin1(action->name));
  worker_ = std::thread([this, action] {
    const bool ok = action->run();
    // Queued behind every line the action printed, so finished comes after its last line.
    QMetaObject::invokeMethod(
        this, [this, ok] { actionReturned(ok); }, Qt::QueuedConnection);
  });
  return true;
}

void NrActionRunner::waitForAction() {
  if (worker_.joinable()) worker_.join();
}

// Called on whichever thread prints, under the console's lock: copy the text and queue it for
// the user-interface thread.
void NrActionRunner::sink(NrConsoleStream stream, const char* text, std::size_t len, void* user) {
  NrActionRunner* self = static_cast<NrActionRunner*>(user);
  const bool isDiag = stream == NrConsoleStream::kErr;
  if (self->echo_) {
    if (isDiag) std::fflush(stdout);  // keep the order of the two streams on a terminal
    std::fwrite(text, 1, len, isDiag ? stderr : stdout);
  }
  QByteArray bytes(text, static_cast<qsizetype>(len));
  QMetaObject::invokeMethod(
      self, [self, isDiag, bytes] { self->takeText(isDiag, bytes); }, Qt::QueuedConnection);
}

void NrActionRunner::takeText(bool isDiag, const QByteArray& text) {
  QByteArray& part = partial_[isDiag ? 1 : 0];
  part.append(text);
  qsizetype nl;
  while ((nl = part.indexOf('\n')) >= 0) {
    emit consoleLine(QString::fromUtf8(part.constData(), nl), isDiag);
    part.remove(0, nl + 1);
  }
}

void NrActionRunner::flushPartial() {
  for (int s = 0; s < 2; s++) {
    if (partial_[s].isEmpty()) continue;
    emit consoleLine(QString::fromUtf8(partial_[s]), s == 1);
    partial_[s].clear();
  }
}

void NrActionRunner::actionReturned(bool ok) {
  waitForAction();
  flushPartial();
  const QString name = runningName();
  current_ = nullptr;
  emit finished(name, ok);
}
