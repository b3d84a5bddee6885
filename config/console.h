// The console sink: every console line of the library and the actions passes through here.
//
// The system's own progress and result lines go to the output stream (standard output unless
// redirected), byte for byte as formatted; diagnostics of our own (refusals with the value and
// reason, file errors) go to the error stream (standard error unless redirected). A host that
// wants the lines elsewhere (a test, the desktop dialog) installs a sink.
#pragma once

#include <cstdarg>
#include <cstddef>

enum class NrConsoleStream { kOut, kErr };

// Receives the text of one print call (often one line, sometimes a part of one).
using NrConsoleSinkFn = void (*)(NrConsoleStream stream, const char* text, std::size_t len,
                                 void* user);

// Sends every later print to fn with user; nullptr restores standard output and standard error.
void nrConsoleSetSink(NrConsoleSinkFn fn, void* user);

// The one printf-style entry point: formats and hands the text to the sink of stream.
int nrConsoleV(NrConsoleStream stream, const char* fmt, va_list args);

// A line of the system's console output (standard output by default).
int nrPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A diagnostic of our own (standard error by default).
int nrDiag(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Flushes standard output and standard error (the default destinations).
void nrConsoleFlush();
