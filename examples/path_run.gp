# The plot of path_run's position log: the commanded against the actual
# path in XY, and the three axes over time.
#
#   gnuplot -e "csv='path_run.csv'; png='path_run.png'" path_run.gp
if (!exists("csv")) csv = "path_run.csv"
if (!exists("png")) png = "path_run.png"

set datafile separator ","
set terminal pngcairo size 1400,640 font ",10" noenhanced
set output png
set multiplot layout 1,2 title "path_run: commanded and actual positions"

set title "Path in XY"
set xlabel "X"
set ylabel "Y"
set size ratio -1
set grid
set key top left
plot csv every ::1 using 2:3 with lines lw 3 lc rgb "#9ecae1" title "commanded", \
     csv every ::1 using 5:6 with lines lw 1 lc rgb "#08306b" title "actual"

set title "Axes over time"
set xlabel "seconds"
set ylabel "position"
set size noratio
set key top left
plot csv every ::1 using 1:2 with lines lw 3 lc rgb "#fcae91" title "X commanded", \
     csv every ::1 using 1:5 with lines lw 1 lc rgb "#a50f15" title "X actual", \
     csv every ::1 using 1:3 with lines lw 3 lc rgb "#a1d99b" title "Y commanded", \
     csv every ::1 using 1:6 with lines lw 1 lc rgb "#006d2c" title "Y actual", \
     csv every ::1 using 1:4 with lines lw 3 lc rgb "#bcbddc" title "Z commanded", \
     csv every ::1 using 1:7 with lines lw 1 lc rgb "#54278f" title "Z actual"

unset multiplot
set output
