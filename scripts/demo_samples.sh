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

# --- MND, IDN, SLD, KST, BKL ---
DEMO_TYPES+=(MND IDN SLD KST BKL)

# MND: TMDLIZ(5) TMDNUM(5) TMDNAM(50) TMDSTA(5) TMDDAT(14, YYYYMMDDHHMMSS) TMDERF(50)
line_MND() { printf '%s%s%s%s%s%s\n' "$(pad 5 "$1")" "$(pad 5 "$2")" "$(pad 50 "$3")" "$(pad 5 "$4")" "$(pad 14 "$5")" "$(pad 50 "$6")"; }
sample_MND_1() {
  line_MND L0001 00001 "Werk Nord" 1 20260101080000 HOST
  line_MND L0001 00002 "Werk Sued" 1 20260101080000 HOST
  line_MND L0001 00003 "Verwaltung" "" "" HOST
}
sample_MND_2() {  # Werk Sued now carries status 4 and is swept; Verwaltung dropped
  line_MND L0001 00001 "Werk Nord GmbH" 2 20261208063000 HOST
  line_MND L0001 00002 "Werk Sued" 4 20261208063000 HOST
}
query_MND() { echo "SELECT TMDLIZ, TMDNUM, TMDNAM, TMDSTA, CONVERT(char(19), TMDDAT, 120), TMDERF FROM QVSYSTEM.Qvs112Tmd ORDER BY TMDNUM"; }

# IDN: 24 fields; the long form (L) carries AswKal(3) and one more character.
# line_IDN L|S AswNum AswSto AswGvo AswGbi AswNam AswBkl AswCod AswKst AswKal
line_IDN() {
  local form="$1" num="$2" sto="$3" gvo="$4" gbi="$5" nam="$6" bkl="$7" cod="$8" kst="$9" kal="${10:-}"
  printf '%s' "$(pad 50 "$num")" "$(pad 8 "$sto")" "$(pad 8 "$gvo")" "$(pad 8 "$gbi")" \
    "$(pad 8 P100)" "$(pad 50 "$nam")" "$(pad 5 DE)" "$(pad 5 "$bkl")" "$(pad 32 0000)" \
    "$(pad 5 "$cod")" "$(pad 5 G1)" "$(pad 5 L0001)" "$(pad 5 00001)" "$(pad 2 "")" \
    "$(pad 50 "")" "$(pad 2 "")" "$(pad 10 "")" "$(pad 5 "")" "$(pad 5 1)" \
    "$(pad 14 20261201000000)" "$(pad 50 HOST)" "$(pad 1 J)" "$(pad 30 "$kst")"
  if [ "$form" = L ]; then printf '%s' "$(pad 3 "$kal")" " "; fi
  printf '\n'
}
sample_IDN_1() {
  line_IDN L 4711 10 20260101 19800412 "Anna Beispiel" 1 C1 KST-100 K01
  line_IDN S 4712 10 20260101 19750903 "Bernd O'Brien" "" C1 KST-200
}
sample_IDN_2() {  # the rows stay; AswKst and AswKal now reach them; one new card
  line_IDN L 4711 10 20260101 19800412 "Anna Beispiel" 1 C1 KST-100 K01
  line_IDN S 4712 10 20260101 19750903 "Bernd O'Brien" "" C1 KST-300
  line_IDN S 4713 20 20261208 19900101 "Clara Neu" 2 C2 KST-100
}
query_IDN() { echo "SELECT AswNum, AswSto, CONVERT(char(8), AswGvo, 112), AswNam, AswBkl, AswKst, AswKal FROM QVSYSTEM.Qvs301Asw ORDER BY AswNum"; }

# SLD: TswIdn(50) TswSto(8) Tswliz(5) TswMnd(5) TswW01(8) TswW02-16(10 each)
# TswF01-10(20 each), and TswAmp(5) in the long form.
# line_SLD TswIdn TswSto base TswAmp   (the values grow from base)
line_SLD() {
  local n
  printf '%s' "$(pad 50 "$1")" "$(pad 8 "$2")" "$(pad 5 L0001)" "$(pad 5 00001)" "$(pad 8 "$3")"
  for n in $(seq 2 16); do printf '%s' "$(pad 10 "$(( $3 + n ))")"; done
  for n in $(seq 1 10); do printf '%s' "$(pad 20 "Konto $n")"; done
  printf '%s\n' "$(pad 5 "$4")"
}
sample_SLD_1() {
  line_SLD 4711 ST01 100 A1
  line_SLD 4712 ST01 200 A1
}
sample_SLD_2() {  # 4712 dropped and swept; 4713 new
  line_SLD 4711 ST01 150 A2
  line_SLD 4713 ST02 300 A1
}
query_SLD() { echo "SELECT TswIdn, TswSto, TswW01, TswW02, TswW16, TswF01, TswAmp FROM QVSYSTEM.O2002TSW ORDER BY TswIdn"; }

# KST: KidKst(30) KidMnd(5) KidLiz(5) KidNum(7) KidSys(7) KidTxt(30) KidErf(50)
line_KST() { printf '%s%s%s%s%s%s%s\n' "$(pad 30 "$1")" "$(pad 5 "$2")" "$(pad 5 "$3")" "$(pad 7 "$4")" "$(pad 7 "$5")" "$(pad 30 "$6")" "$(pad 50 "$7")"; }
sample_KST_1() {
  line_KST KST-100 00001 L0001 100 SAP Produktion HOST
  line_KST KST-200 00001 L0001 200 SAP Lager HOST
  line_KST KST-300 00001 L0001 300 SAP Verwaltung HOST
}
sample_KST_2() {  # KST-200 without KidNum (NULL); KST-300 dropped and swept
  line_KST KST-100 00001 L0001 100 SAP "Produktion Halle 1" HOST
  line_KST KST-200 00001 L0001 "" SAP Lager HOST
}
query_KST() { echo "SELECT KidKst, KidMnd, KidLiz, KidNum, KidSys, KidTxt, KidSta FROM QVSYSTEM.Qvs120Kid ORDER BY KidKst"; }

# BKL: AwbAsw(50) AwbBkl(5) AwbLiz(5) AwbMnd(5) AwbZuv(1 digit; blank or letter = 0)
line_BKL() { printf '%s%s%s%s%s\n' "$(pad 50 "$1")" "$(pad 5 "$2")" "$(pad 5 "$3")" "$(pad 5 "$4")" "$(pad 1 "$5")"; }
sample_BKL_1() {
  line_BKL 4711 1 L0001 00001 1
  line_BKL 4711 2 L0001 00001 ""
  line_BKL 4712 1 L0001 00001 3
}
sample_BKL_2() {  # 4711/2 dropped and swept
  line_BKL 4711 1 L0001 00001 7
  line_BKL 4712 1 L0001 00001 3
}
query_BKL() { echo "SELECT AwbAsw, AwbBkl, AwbLiz, AwbMnd, AwbZuv, AwbSta FROM QVSYSTEM.Qvs301Awb ORDER BY AwbAsw, AwbBkl"; }
