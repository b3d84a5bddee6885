// Plots of sweep results: a gnuplot script written beside the images, so that a user can restyle
// it and render again with `gnuplot NAME.gp` in its directory.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/sweep.h"
#include "config/console.h"
#include "phy/common/text_lines.h"

namespace {

namespace fs = std::filesystem;

// A gnuplot string literal (double quotes; backslashes and quotes escaped).
std::string quoted(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

bool nrPlotWrite(const std::string& prefix, const std::vector<NrPlotCurve>& curves,
                 const std::string& title, double shannonDb) {
  std::error_code ec;
  const fs::path script = fs::absolute(prefix + ".gp", ec);
  const fs::path dir = script.parent_path();
  const std::string stem = script.stem().string();

  std::string gp;
  gp += "# BLER and throughput against SNR, written by veltra. Render again with\n";
  gp += "#   gnuplot " + stem + ".gp\n";
  gp += "# in this directory; it writes " + stem + ".png and " + stem + ".svg.\n";
  gp +=
      "# CSV columns: 1 snr_db, 2 slots, 3 tb_errors, 4 bler, 5 bler_ci95_low, 6 bler_ci95_high,\n";
  gp += "# 7 cb_error_rate, 8 throughput_mbps, 9 throughput_fraction, 10 mean_ldpc_iterations,\n";
  gp += "# 11 mean_transmissions.\n";
  gp += "set datafile separator ','\n";
  gp += "title = " + quoted(title) + "\n";
  gp += "files = \"";
  for (size_t i = 0; i < curves.size(); i++) {
    const fs::path csv = fs::absolute(curves[i].csv, ec);
    const fs::path rel = fs::relative(csv, dir, ec);
    if (i) gp += ' ';
    gp += ec || rel.empty() ? csv.string() : rel.string();
  }
  gp += "\"\n";
  for (size_t i = 0; i < curves.size(); i++)
    gp += "label" + std::to_string(i + 1) + " = " + quoted(curves[i].label) + "\n";
  gp += "n = words(files)\n";
  gp += std::isfinite(shannonDb) ? "shannon = " + std::to_string(shannonDb) + "\n"
                                 : "shannon = NaN\n";
  gp += R"gp(# Points without a block error have no place on the log scale.
bler(x) = x > 0 ? x : 1/0
low(x) = x > 1e-4 ? x : 1e-4
do for [fmt in "png svg"] {
  if (fmt eq "png") {
    set terminal pngcairo size 1100,900 font "sans,10"
  } else {
    set terminal svg size 1100,900 font "sans,10" dynamic
  }
  set output sprintf(")gp" +
        stem + R"gp(.%s", fmt)
  set multiplot layout 2,1 title title
  set grid
  set key outside right top spacing 1.1
  set xlabel "SNR per resource element (dB)"
  set logscale y
  set format y "10^{%L}"
  set yrange [1e-3:1.2]
  set ylabel "BLER (95 % Wilson interval)"
  unset arrow
  if (shannon == shannon) {
    set arrow from shannon, graph 0 to shannon, graph 1 nohead dashtype 2 lc rgb "gray40"
  }
  plot for [i=1:n] word(files, i) using 1:(bler($4)):(low($5)):6 \
       with yerrorlines lw 1.5 pt 7 ps 0.6 title value(sprintf("label%d", i))
  unset logscale y
  set format y "%g"
  set yrange [0:*]
  set ylabel "Throughput (Mbit/s)"
  unset arrow
  plot for [i=1:n] word(files, i) using 1:8 with linespoints lw 1.5 pt 7 ps 0.6 \
       title value(sprintf("label%d", i))
  unset multiplot
}
)gp";
  if (!nrWriteFileBytes(script.string().c_str(), gp.data(), gp.size())) return false;

  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int devNull = open("/dev/null", 0);
    if (devNull >= 0) dup2(devNull, 0);
    execlp("gnuplot", "gnuplot", (stem + ".gp").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) < 0) {
    nrDiag("veltra: cannot run gnuplot for %s\n", script.c_str());
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    nrDiag(
        "veltra: gnuplot not found (Debian: gnuplot-nox, scripts/install-deps); %s is written, "
        "no images\n",
        script.c_str());
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    nrDiag("veltra: gnuplot failed on %s\n", script.c_str());
    return false;
  }
  return true;
}
