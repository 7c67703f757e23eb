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

# 35P, 41P, FTG, MST, MDT, FCD: FTG, MST, MDT and FCD come in a long and a short
# form (the short one stops before the trailing fields); both forms appear below.
DEMO_TYPES+=(35P 41P FTG MST MDT FCD)

# 35P: M35Trm(255) M35Fir(3) M35Bkl(5) M35Les(2) M35Wle(2) M35Wpl(3) M35Zko(5) M35Zzo(5) M35Bch(1)
line_35P() {
  printf '%s%s%s%s%s%s%s%s%s\n' "$(pad 255 "$1")" "$(pad 3 "$2")" "$(pad 5 "$3")" "$(pad 2 "$4")" \
    "$(pad 2 "$5")" "$(pad 3 "$6")" "$(pad 5 "$7")" "$(pad 5 "$8")" "$(pad 1 "$9")"
}
sample_35P_1() {
  # The demo database starts empty: give the "*ZKO" record a QVS401ZLS row to find.
  "$BIN/standin/kranzel-standin" exec "$DEMO/odbc/demo.sqlite" \
    "INSERT INTO QVSYSTEM.QVS401ZLS (ZLSTRM, ZLSLES, ZLSZKO) VALUES ('TERMINAL-EINGANG', '01', 'ALT')" >/dev/null
  line_35P TERMINAL-EINGANG 001 BKL01 01 01 001 ZK001 ZZ001 J
  line_35P TERMINAL-LAGER 001 BKL02 01 02 001 ZK002 ZZ002 N
  line_35P TERMINAL-EINGANG 001 '*ZKO' 01 01 001 ZK777 '' ''
}
sample_35P_2() {
  line_35P TERMINAL-EINGANG 001 BKL01 01 01 001 ZK003 ZZ001 J
  line_35P TERMINAL-EINGANG 001 '*ZKO' 01 01 001 ZK888 '' ''
  line_35P TERMINAL-KANTINE 001 '*ZKO' 02 01 001 ZK999 '' ''
}
# The "*ZKO" records show in the second count line of the log, not in this table.
query_35P() { echo "SELECT M35Trm, M35Fir, M35Bkl, M35Les, M35Wle, M35Wpl, M35Zko, M35Zzo, M35Bch, CONVERT(char(19), M35Dat, 120) FROM QVSYSTEM.MGSST35P ORDER BY M35Trm, M35Bkl"; }

# 41P: M41Trm(255) M41Fir(3) M41Zpl(3) M41Wnr(2) M41Zzo(5) M41Tnr(1) M41Von(4) M41Bis(4)
line_41P() {
  printf '%s%s%s%s%s%s%s%s\n' "$(pad 255 "$1")" "$(pad 3 "$2")" "$(pad 3 "$3")" "$(pad 2 "$4")" \
    "$(pad 5 "$5")" "$(pad 1 "$6")" "$(pad 4 "$7")" "$(pad 4 "$8")"
}
sample_41P_1() {
  line_41P TERMINAL-EINGANG 001 Z01 01 ZZ001 1 0600 1400
  line_41P TERMINAL-EINGANG 001 Z01 01 ZZ001 1 1400 2200
  line_41P TERMINAL-LAGER 001 Z02 02 ZZ002 2 0500 1300
}
sample_41P_2() {
  line_41P TERMINAL-EINGANG 001 Z01 01 ZZ001 1 0600 1430
  line_41P TERMINAL-LAGER 001 Z02 02 ZZ002 2 0500 1300
}
query_41P() { echo "SELECT M41Trm, M41Zpl, M41Wnr, M41Zzo, M41Tnr, M41Von, M41Bis, CONVERT(char(19), M41Dat, 120) FROM QVSYSTEM.MGSST41P ORDER BY M41Trm, M41Von"; }

# FTG: FTGTRM(255) FTGLIZ(5) FTGMND(5) FTGJHR(4) FTGDTM(8) FTGTXT(20) FTGKRT(1) [FTGKAL(3) and one unread]
line_FTG() {
  local long=""
  [ $# -ge 8 ] && long="$(pad 3 "$8") "
  printf '%s%s%s%s%s%s%s%s\n' "$(pad 255 "$1")" "$(pad 5 "$2")" "$(pad 5 "$3")" "$(pad 4 "$4")" \
    "$(pad 8 "$5")" "$(pad 20 "$6")" "$(pad 1 "$7")" "$long"
}
sample_FTG_1() {
  line_FTG TERMINAL-EINGANG L0001 M0001 2024 20240101 Neujahr J BY
  line_FTG TERMINAL-EINGANG L0001 M0001 2024 20241003 "Tag der Einheit" J
  line_FTG TERMINAL-EINGANG L0001 M0001 2024 20241225 Weihnachten J BY
}
sample_FTG_2() {
  line_FTG TERMINAL-EINGANG L0001 M0001 2024 20241003 "Tag der Dt. Einheit" J
  line_FTG TERMINAL-EINGANG L0001 M0001 2024 20241225 "1. Weihnachtstag" J BY
}
query_FTG() { echo "SELECT FTGTRM, FTGDTM, FTGTXT, FTGKRT, FTGKAL, CONVERT(char(19), FTGDAT, 120) FROM QVSYSTEM.MGSSTFTG ORDER BY FTGDTM"; }

# MST: MSTLIZ(5) MSTMND(5) MSTASW(13) MSTSTS(1) MSTVBI(23) MSTAbe(33) MSTSbe(33) MSTKrt(1)
#      MSTKST(50) MSTVon(8) MSTAbt(30) [MSTUh1(4) MSTFcd(3) and one unread]
line_MST() {
  local long=""
  [ $# -ge 12 ] && long="$(pad 4 "${12}")$(pad 3 "${13:-}") "
  printf '%s%s%s%s%s%s%s%s%s%s%s%s\n' "$(pad 5 "$1")" "$(pad 5 "$2")" "$(pad 13 "$3")" \
    "$(pad 1 "$4")" "$(pad 23 "$5")" "$(pad 33 "$6")" "$(pad 33 "$7")" "$(pad 1 "$8")" \
    "$(pad 50 "$9")" "$(pad 8 "${10}")" "$(pad 30 "${11}")" "$long"
}
sample_MST_1() {
  line_MST L0001 M0001 4711 A V001 Anwesend Schicht J KST-100 20240101 Produktion 0800 F01
  line_MST L0001 M0001 4712 A V002 Anwesend Gleitzeit N KST-200 20240101 Verwaltung
}
sample_MST_2() {
  line_MST L0001 M0001 4711 A V001 Anwesend Schicht J KST-100 20240101 Produktion 0600 F02
}
query_MST() { echo "SELECT MSTASW, MSTSTS, MSTVBI, MSTAbe, MSTKST, MSTUh1, MSTFcd, CONVERT(char(19), MSTDAT, 120) FROM QVSYSTEM.MGSSTMST ORDER BY MSTASW"; }

# MDT: MDTLIZ(5) MDTMND(5) MDTASW(13) MDTDTM(10) MDTAbe(33) MDTSbe(33) MDTSTS(1) MDTKrt(1)
#      [MDTFcd(3) and one unread]
line_MDT() {
  local long=""
  [ $# -ge 9 ] && long="$(pad 3 "$9") "
  printf '%s%s%s%s%s%s%s%s%s\n' "$(pad 5 "$1")" "$(pad 5 "$2")" "$(pad 13 "$3")" \
    "$(pad 10 "$4")" "$(pad 33 "$5")" "$(pad 33 "$6")" "$(pad 1 "$7")" "$(pad 1 "$8")" "$long"
}
sample_MDT_1() {
  line_MDT L0001 M0001 4711 01.02.2024 Urlaub Ganztags U J F10
  line_MDT L0001 M0001 4712 01.02.2024 Krank Ganztags K N
}
sample_MDT_2() {
  line_MDT L0001 M0001 4711 01.02.2024 Urlaub Halbtags U J
}
query_MDT() { echo "SELECT MDTASW, MDTDTM, MDTAbe, MDTSbe, MDTSTS, MDTFcd, CONVERT(char(19), MDTDAT, 120) FROM QVSYSTEM.MGSSTMDT ORDER BY MDTASW"; }

# FCD: FCDLIZ(5) FCDMND(5) FCDNUM(3) FCDKrt(2) FCDTxt(50) [FCDTyp(5) FCDFcd(5) and one unread]
line_FCD() {
  local long=""
  [ $# -ge 6 ] && long="$(pad 5 "$6")$(pad 5 "${7:-}") "
  printf '%s%s%s%s%s%s\n' "$(pad 5 "$1")" "$(pad 5 "$2")" "$(pad 3 "$3")" "$(pad 2 "$4")" \
    "$(pad 50 "$5")" "$long"
}
sample_FCD_1() {
  line_FCD L0001 M0001 001 KO Kommen T01 F001
  line_FCD L0001 M0001 002 GE Gehen T01 F002
  line_FCD L0001 M0001 003 DG Dienstgang
}
sample_FCD_2() {
  line_FCD L0001 M0001 001 KO Kommen T01 F001
  line_FCD L0001 M0001 003 DG "Dienstgang (extern)"
}
query_FCD() { echo "SELECT FCDNUM, FCDKrt, FCDTxt, FCDTyp, FCDFcd, CONVERT(char(19), FCDDAT, 120) FROM QVSYSTEM.MGSSTFCD ORDER BY FCDNUM"; }
