set terminal pngcairo size 960,600 font 'sans,11'
set output 'docs/rate-quality.png'
set title 'Mean PEAQ ODG against bit rate, 14 items, 48 kHz stereo input'
set xlabel 'bit rate (kbit/s, from file size)'
set ylabel 'mean ODG (0 imperceptible .. -4 very annoying)'
set grid
set key bottom right
set logscale x 2
set xrange [28:360]
set xtics (32, 48, 64, 96, 128, 160, 192, 256, 320)
set yrange [-4:0.4]
plot 'docs/rate-quality.dat' index 0 using 1:2 with linespoints lw 2 pt 7 lc rgb '#c0392b' title 'Kestrune CBR', \
     'docs/rate-quality.dat' index 0 using 3:4 with linespoints lw 2 pt 5 lc rgb '#2c3e50' title 'LAME 3.100 CBR', \
     'docs/rate-quality.dat' index 1 using 1:2 with points ps 2 pt 9 lc rgb '#e67e22' title 'Kestrune VBR levels L1..L5', \
     'docs/rate-quality.dat' index 1 using 3:4 with points ps 2 pt 11 lc rgb '#2980b9' title 'LAME -V, paired by rate', \
     'docs/rate-quality.dat' index 1 using 1:2:(stringcolumn(5)) with labels offset 0,-1.2 font ',9' notitle, \
     'docs/rate-quality.dat' index 1 using 3:4:(stringcolumn(6)) with labels offset 0,1.2 font ',9' notitle
