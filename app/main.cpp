// Console front end: `veltra [-C DIR] [--seed N] [--slot FILE] ACTION...` runs the named actions
// in order, in one process, in the working directory (or DIR), on the default slot, another
// seed's draw or a slot file. Exit code: 0 every action succeeded, 1 an action ran and
// failed (the actions after it are not run), 2 usage error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/actions.h"
#include "app/slot_setup.h"
#include "app/sweep.h"
#include "config/console.h"

#ifndef VELTRA_VERSION
#define VELTRA_VERSION "unknown"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kExitCodes[] =
    "Exit codes:\n"
    "  0  every action succeeded (nrUeRx: valid data and every code block's CRC checks)\n"
    "  1  an action ran and failed (a file, invalid data, a CRC failure); later actions do\n"
    "     not run\n"
    "  2  usage error (unknown action, bad option, -C directory missing, slot file refused)\n";

std::string footer() {
  std::string f = "Actions (run in the order given, in one process):\n";
  for (std::size_t i = 0; i < kNrActionN; i++) {
    const std::string name = kNrActions[i].name;
    f += "  " + name + std::string(name.size() < 8 ? 8 - name.size() : 1, ' ') +
         kNrActions[i].summary + "\n";
  }
  f += "\n'veltra help ACTION' or 'veltra ACTION --help' tells what an action reads, writes and "
       "prints.\n\n";
  f += kExitCodes;
  f += "\nLink-level sweeps: 'veltra sweep --help' (BLER and throughput against SNR over AWGN and\n"
       "TDL channels, CSV and plots), 'veltra plot --help' (several CSV files in one plot).\n";
  return f;
}

void printActionHelp(const NrAction& a) {
  std::printf("%s: %s\n\n%s\n", a.name, a.summary, a.details);
}

bool isHelpFlag(const std::string& s) { return s == "--help" || s == "-h"; }

// `veltra help [ACTION...]` and `veltra ACTION... --help`: the actions' own help. Returns -1 when
// the command line asks for no action help.
int actionHelp(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool help = false;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < args.size(); i++) {
    if (isHelpFlag(args[i]) || (i == 0 && args[i] == "help")) {
      help = true;
    } else if (args[i] == "-C" || args[i] == "--directory" || args[i] == "--slot" ||
               args[i] == "--seed") {
      i++;  // the option's argument
    } else if (args[i].rfind("-", 0) != 0) {
      names.push_back(args[i]);
    }
  }
  if (!help || names.empty()) return -1;
  for (const std::string& n : names) {
    if (!nrFindAction(n.c_str())) {
      std::fprintf(stderr, "veltra: no action '%s'; run 'veltra --help' for the list\n", n.c_str());
      return kExitUsage;
    }
  }
  for (std::size_t i = 0; i < names.size(); i++) {
    if (i) std::printf("\n");
    printActionHelp(*nrFindAction(names[i].c_str()));
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // The link-level modes have command lines of their own.
  if (argc >= 2 && std::strcmp(argv[1], "sweep") == 0) return nrSweepCommand(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "plot") == 0) return nrPlotCommand(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "help") == 0 && argc == 2) {
    argv[1] = const_cast<char*>("--help");
  }
  if (const int code = actionHelp(argc, argv); code >= 0) return code;

  std::vector<std::string> names;
  for (std::size_t i = 0; i < kNrActionN; i++) names.emplace_back(kNrActions[i].name);

  CLI::App app{"Veltra: 5G NR downlink link-level test bench"};
  app.footer(footer());
  app.set_version_flag("--version", [] {
    const std::string mpi = nrSweepMpiBuiltWith();
    return std::string("veltra ") + VELTRA_VERSION + "\nMPI sweeps: " +
           (mpi.empty() ? "not built (no MPI at configure time)" : "built with " + mpi);
  });
  std::string dir;
  app.add_option("-C,--directory", dir, "run the actions in DIR instead of the working directory");
  std::string slotFile;
  app.add_option("--slot", slotFile,
                 "slot description (YAML) applied on top of the generator's draw; gNbTx writes "
                 "the slot it sent to nrSlotCfg.yaml");
  uint32_t seed = 0;
  CLI::Option* seedOpt =
      app.add_option("--seed", seed, "generator seed: draw another slot than the default one");
  std::vector<std::string> actions;
  app.add_option("actions", actions, "actions to run, e.g. gNbTx nrUeRx")
      ->required()
      ->check(CLI::IsMember(names));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitUsage;
  }

  if (!dir.empty() && chdir(dir.c_str()) != 0) {
    std::fprintf(stderr, "veltra: -C %s: %s\n", dir.c_str(), std::strerror(errno));
    return kExitUsage;
  }
  // The slot is fixed before anything runs: a refused slot file is a usage error.
  if (!nrSlotSetup(slotFile.empty() ? nullptr : slotFile.c_str(), seedOpt->count() > 0, seed)) {
    nrConsoleFlush();
    std::fprintf(stderr, "veltra: slot file %s refused; nothing run\n", slotFile.c_str());
    return kExitUsage;
  }

  for (std::size_t i = 0; i < actions.size(); i++) {
    const NrAction* a = nrFindAction(actions[i].c_str());
    const bool ok = a->run();
    nrConsoleFlush();
    if (!ok) {
      std::string rest;
      for (std::size_t j = i + 1; j < actions.size(); j++) rest += " " + actions[j];
      if (rest.empty())
        std::fprintf(stderr, "veltra: %s failed\n", a->name);
      else
        std::fprintf(stderr, "veltra: %s failed; not run:%s\n", a->name, rest.c_str());
      return kExitFailed;
    }
  }
  return kExitOk;
}
