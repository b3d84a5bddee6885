// Console front end: `veltra [-C DIR] [--seed N] [--slot FILE] [--profile] ACTION... [hwRef
// OPTIONS]` runs the named actions in order, in one process, in the working directory (or DIR), on
// the default slot, another seed's draw or a slot file, and then the hardware reference run when
// hwRef is given; --profile prints the time of every stage of the actions on standard error. Exit
// code: 0 everything succeeded, 1 an action ran and failed (what follows it is not run), 2 usage
// error. `veltra sweep|plot ...`, `veltra nrUeTestMain|nrGnbTestMain [DIR]` and `veltra
// writeTestVector DIR ...` have command lines of their own (same exit codes).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/actions.h"
#include "app/exit_codes.h"
#include "app/slot_setup.h"
#include "app/sweep.h"
#include "app/test_flows.h"
#include "app/test_vector.h"
#include "config/console.h"
#include "phy/common/stage_profile.h"

#ifndef VELTRA_VERSION
#define VELTRA_VERSION "unknown"
#endif

namespace {

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
  f += "\nCommand with options (after the actions, if any):\n  " + std::string(kNrHwRefHelp.usage) +
       "\n          " + kNrHwRefHelp.summary + "\n";
  f += "\n'veltra help ACTION' or 'veltra ACTION --help' tells what an action reads, writes and "
       "prints.\n\n";
  f += kExitCodes;
  f += "\nLink-level sweeps: 'veltra sweep --help' (BLER and throughput against SNR over AWGN and\n"
       "TDL channels, CSV and plots), 'veltra plot --help' (several CSV files in one plot).\n";
  f +=
      "\nFile-driven test flows: 'veltra nrUeTestMain [DIR]' (PDCCH and PDSCH of slots 2 and 4 of\n"
      "a test-vector directory), 'veltra nrGnbTestMain [DIR]' (configuration of slot 0),\n"
      "'veltra writeTestVector DIR' (a test-vector directory from the transmitter, for loopback);\n"
      "each with --help.\n";
  return f;
}

void printActionHelp(const NrAction& a) {
  std::printf("%s: %s\n\n%s\n", a.name, a.summary, a.details);
}

void printCommandHelp(const NrCommandHelp& c) {
  std::printf("%s: %s\n\nUsage: veltra [-C DIR] %s\n\n%s\n", c.name, c.summary, c.usage, c.details);
}

bool isCommand(const std::string& s) { return s == kNrHwRefHelp.name; }

// Options that take a value, of the program and of hwRef.
bool takesValue(const std::string& s) {
  return s == "-C" || s == "--directory" || s == "--slot" || s == "--seed" || s == "--mcs" ||
         s == "--layers" || s == "--re-per-prb" || s == "--prb";
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
    } else if (takesValue(args[i])) {
      i++;  // the option's argument
    } else if (args[i].rfind("-", 0) != 0) {
      names.push_back(args[i]);
    }
  }
  if (!help || names.empty()) return -1;
  for (const std::string& n : names) {
    if (!nrFindAction(n.c_str()) && !isCommand(n)) {
      std::fprintf(stderr, "veltra: no action '%s'; run 'veltra --help' for the list\n", n.c_str());
      return kExitUsage;
    }
  }
  for (std::size_t i = 0; i < names.size(); i++) {
    if (i) std::printf("\n");
    if (isCommand(names[i]))
      printCommandHelp(kNrHwRefHelp);
    else
      printActionHelp(*nrFindAction(names[i].c_str()));
  }
  return kExitOk;
}

bool isTestFlowCommand(const char* name) {
  return std::strcmp(name, "nrUeTestMain") == 0 || std::strcmp(name, "nrGnbTestMain") == 0 ||
         std::strcmp(name, "writeTestVector") == 0;
}

int testFlowCommand(int argc, char** argv) {
  return std::strcmp(argv[0], "writeTestVector") == 0 ? nrWriteTestVectorCommand(argc, argv)
                                                      : nrTestMainCommand(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  // The link-level modes have command lines of their own.
  if (argc >= 2 && std::strcmp(argv[1], "sweep") == 0) return nrSweepCommand(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "plot") == 0) return nrPlotCommand(argc - 1, argv + 1);
  // The file-driven test flows and the test-vector writer, each with its own command line;
  // `veltra help COMMAND` is COMMAND --help.
  if (argc == 3 && std::strcmp(argv[1], "help") == 0 && isTestFlowCommand(argv[2])) {
    char* helpArgv[] = {argv[2], const_cast<char*>("--help")};
    return testFlowCommand(2, helpArgv);
  }
  if (argc >= 2 && isTestFlowCommand(argv[1])) return testFlowCommand(argc - 1, argv + 1);
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
  bool profile = false;
  app.add_flag("--profile", profile,
               "print the time of every stage of the actions (generation, encoding, mapping, OFDM, "
               "file I/O, FFT, estimation, equalisation, demapping, de-rate-matching, decoding) "
               "as a table on standard error");
  std::vector<std::string> actions;
  app.add_option("actions", actions, "actions to run, e.g. gNbTx nrUeRx")
      ->check(CLI::IsMember(names));
  CLI::App* hw = app.add_subcommand(kNrHwRefHelp.name, kNrHwRefHelp.summary);
  int32_t mcs = 0, layers = 0, rePerPrb = 0, prb = 0;
  hw->add_option("--mcs", mcs, "MCS index of table 2")->required()->check(CLI::Range(0, 31));
  hw->add_option("--layers", layers, "number of layers")->required()->check(CLI::Range(1, 4));
  hw->add_option("--re-per-prb", rePerPrb, "data REs per PRB")
      ->required()
      ->check(CLI::Range(1, 168));
  hw->add_option("--prb", prb, "number of PRBs")->required()->check(CLI::Range(1, 275));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitUsage;
  }
  if (actions.empty() && !hw->parsed()) {
    std::fprintf(stderr, "veltra: no actions given; run 'veltra --help' for the list\n");
    return kExitUsage;
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

  if (profile) nrProfileEnable(true);
  for (std::size_t i = 0; i < actions.size(); i++) {
    const NrAction* a = nrFindAction(actions[i].c_str());
    const bool ok = a->run();
    nrConsoleFlush();
    // The table covers the actions that ran, the failed one included.
    if (profile && (!ok || i + 1 == actions.size())) {
      nrProfilePrint();
      nrConsoleFlush();
    }
    if (!ok) {
      std::string rest;
      for (std::size_t j = i + 1; j < actions.size(); j++) rest += " " + actions[j];
      if (hw->parsed()) rest += std::string(" ") + kNrHwRefHelp.name;
      if (rest.empty())
        std::fprintf(stderr, "veltra: %s failed\n", a->name);
      else
        std::fprintf(stderr, "veltra: %s failed; not run:%s\n", a->name, rest.c_str());
      return kExitFailed;
    }
  }
  if (hw->parsed()) {
    const bool ok = hwRef(mcs, layers, rePerPrb, prb);
    nrConsoleFlush();
    if (!ok) {
      std::fprintf(stderr, "veltra: %s failed\n", kNrHwRefHelp.name);
      return kExitFailed;
    }
  }
  return kExitOk;
}
