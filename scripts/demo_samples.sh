# Sample interface files of the demo, two deliveries per file type.
# shellcheck shell=bash
# Each type has sample_<T>_1, sample_<T>_2 (print the file) and query_<T>
# (prints the T-SQL that shows its table).

DEMO_TYPES=(20P)

# 20P: M20Trm(255) M20Sch(2) M20Tg1(1) M20Zz2(5) M20Ofv(4) M20Ofb(4)
line_20P() { printf '%s%s%s%s%s%s\n' "$(pad 255 "$1")" "$(pad 2 "$2")" "$(pad 1 "$3")" "$(pad 5 "$4")" "$(pad 4 "$5")" "$(pad 4 "$6")"; }
sample_20P_1() {
  line_20P TERMINAL-EINGANG 01 1 00001 0600 2200
  line_20P TERMINAL-LAGER 01 1 00001 0500 1400
  line_20P "TERMINAL-BUERO" 02 2 00002 0700 1900
}
sample_20P_2() {
  line_20P TERMINAL-EINGANG 01 1 00001 0600 2300
  line_20P "TERMINAL-BUERO" 02 2 00002 0700 1900
  line_20P "TERMINAL-KANTINE" 03 1 00003 1100 1400
}
query_20P() { echo "SELECT M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb, CONVERT(char(19), M20Dat, 120) FROM QVSYSTEM.MGSST20P ORDER BY M20Trm"; }
