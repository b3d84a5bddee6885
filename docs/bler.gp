# BLER against SNR per RE of the default slot at MCS 4, 11, 20 and 27 (MCS index table 2), rv 0,
# one receive antenna, from the CSV files of docs/bler_plot.sh. Run in docs/: gnuplot bler.gp
# Colour: MCS; solid: noise-aware receiver; dashed: fixed-noise receiver; thin vertical lines: the
# Shannon bound of each MCS's spectral efficiency (TBS / data REs).
set datafile separator ','
mcs = "4 11 20 27"
array label[4] = ["MCS 4 (QPSK, 1.17 bit/RE)", "MCS 11 (64QAM, 2.79 bit/RE)", \
                  "MCS 20 (256QAM, 5.39 bit/RE)", "MCS 27 (256QAM, 7.33 bit/RE)"]
shannon = "0.95 7.73 16.12 22.05"
colour = "#1b9e77 #d95f02 #7570b3 #e7298a"
bler(x) = x > 0 ? x : 1/0
do for [fmt in "png svg"] {
  if (fmt eq "png") {
    set terminal pngcairo size 1300,640 font "sans,10"
  } else {
    set terminal svg size 1300,640 font "sans,10" dynamic
  }
  set output "bler.".fmt
  set multiplot layout 1,2 margins 0.06,0.98,0.25,0.9 spacing 0.07,0 \
      title "Default slot (12 RBs x 5 symbols, 576 data REs, 1 receive antenna), rv 0: BLER against SNR per RE"
  set grid
  set logscale y
  set format y "10^{%L}"
  set yrange [5e-3:1.2]
  set xlabel "SNR per resource element (dB)"
  set ylabel "BLER"
  do for [ch in "awgn tdlc"] {
    set title (ch eq "awgn" ? "AWGN" : "TDL-C, 300 ns delay spread, 100 Hz Doppler")
    # One legend for both panels, below them.
    if (ch eq "awgn") {
      set xrange [-4:34]
      set key at screen 0.5, screen 0.01 center bottom horizontal maxrows 2 font "sans,9" \
          width 2 samplen 3
    } else {
      set xrange [-4:46]
      unset key
    }
    unset arrow
    do for [i=1:4] {
      set arrow from word(shannon, i), graph 0 to word(shannon, i), graph 1 nohead lw 0.8 dt 3 lc rgb word(colour, i)
    }
    plot for [i=1:4] sprintf("bler/mcs%s_%s_noise-aware.csv", word(mcs, i), ch) using 1:(bler($4)) \
           with linespoints lw 2 pt 7 ps 0.5 lc rgb word(colour, i) dt 1 \
           title label[i]." noise-aware", \
         for [i=1:4] sprintf("bler/mcs%s_%s_fixed-noise.csv", word(mcs, i), ch) using 1:(bler($4)) \
           with linespoints lw 1.5 pt 6 ps 0.5 lc rgb word(colour, i) dt 2 \
           title label[i]." fixed-noise"
  }
  unset multiplot
}
