// Exit codes of the console program, its subcommands and the dialog: a script tells from them
// what happened.
#pragma once

constexpr int kExitOk = 0;      // every action succeeded
constexpr int kExitFailed = 1;  // an action ran and failed (a file, invalid data, a CRC failure)
constexpr int kExitUsage = 2;   // the command line was refused; nothing ran
