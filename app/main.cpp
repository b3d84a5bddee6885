// Console front end: `veltra ACTION...` runs the named actions in order, in one process, in the
// current working directory.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "app/actions.h"

int main(int argc, char** argv) {
  std::string footer = "Actions (run in the order given, in one process):\n";
  std::vector<std::string> names;
  for (std::size_t i = 0; i < kNrActionN; i++) {
    names.emplace_back(kNrActions[i].name);
    footer += "  " + names.back() +
              std::string(names.back().size() < 8 ? 8 - names.back().size() : 1, ' ') +
              kNrActions[i].help + "\n";
  }

  CLI::App app{"Veltra: 5G NR downlink link-level test bench"};
  app.footer(footer);
  std::vector<std::string> actions;
  app.add_option("actions", actions, "actions to run, e.g. gNbTx nrUeRx")
      ->required()
      ->check(CLI::IsMember(names));
  CLI11_PARSE(app, argc, argv);

  for (const std::string& name : actions) {
    for (std::size_t i = 0; i < kNrActionN; i++) {
      if (name == kNrActions[i].name) {
        kNrActions[i].run();
        std::fflush(stdout);
      }
    }
  }
  return 0;
}
