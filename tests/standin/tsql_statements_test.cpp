// Every statement the importers send, filled with sample values as the tool
// fills them, has its intended effect on the QVSYSTEM tables: the upsert
// pairs, the marks and the sweeps, the side rows, NULL forms and numbers.
#include <gtest/gtest.h>

#include <ctime>

#include "tsql_test_util.h"

namespace {

using tsqltest::Db;
using tsqltest::Fill;
using tsqltest::Result;
using tsqltest::Row;

// The statement texts exactly as the tool sends them.
const char kTimestamp[] =
    R"(SELECT ( CONVERT(char(11), CURRENT_TIMESTAMP, 104) +          CONVERT(char(8), CURRENT_TIMESTAMP, 114)) )";
const char k20Mark[] = R"(UPDATE QvSystem.MGSST20P SET    M20Dat = CONVERT(datetime, '19000101', 112) )";
const char k20Update[] =
    R"(UPDATE QvSystem.MGSST20P SET    M20Ofb = '%s', M20Dat = CURRENT_TIMESTAMP WHERE  M20Trm = '%s' AND    M20Sch = '%s' AND    M20Tg1 = '%s' AND    M20Zz2 = '%s' AND    M20Ofv = '%s' )";
const char k20Insert[] =
    R"(INSERT INTO QvSystem.MGSST20P    (M20Trm, M20Sch, M20Tg1,     M20Zz2, M20Ofv, M20Ofb,     M20Dat)  VALUES ('%s', '%s', '%s',          '%s', '%s', '%s',           CURRENT_TIMESTAMP))";
const char k20Sweep[] = R"(DELETE FROM Qvsystem.MGSST20P WHERE M20DAT = CONVERT(datetime, '19000101', 112) )";
const char k35Mark[] = R"(UPDATE QvSystem.MGSST35P SET    M35Dat = CONVERT(datetime, '19000101', 112) )";
const char k35Update[] =
    R"(UPDATE QvSystem.MGSST35P SET    M35Zko = '%s', M35Zzo = '%s',        M35Bch = '%s', M35Dat = CURRENT_TIMESTAMP WHERE  M35Trm = '%s' AND    M35Fir = '%s' AND    M35Bkl = '%s' AND    M35Les = '%s' AND    M35Wle = '%s' AND    M35Wpl = '%s' )";
const char k35Insert[] =
    R"(INSERT INTO QvSystem.MGSST35P    (M35Trm, M35Fir, M35Bkl,     M35Les, M35Wle, M35Wpl,     M35Zko, M35Zzo, M35Bch,     M35Dat)  VALUES ('%s', '%s', '%s',          '%s', '%s', '%s',          '%s', '%s', '%s',           CURRENT_TIMESTAMP))";
const char k35Sweep[] = R"(DELETE FROM Qvsystem.MGSST35P WHERE M35Dat = CONVERT(datetime, '19000101', 112) )";
const char kZlsUpdate[] =
    R"( UPDATE QVSYSTEM.QVS401ZLS  SET   ZLSZKO = '%s'  WHERE ZLSTRM = '%s'  AND   ZLSLES = '%s' )";
const char k41Mark[] = R"(UPDATE QvSystem.MGSST41P SET    M41Dat = CONVERT(datetime, '19000101', 112) )";
const char k41Update[] =
    R"(UPDATE QvSystem.MGSST41P SET    M41Bis = '%s', M41Dat = CURRENT_TIMESTAMP WHERE  M41Trm = '%s' AND    M41Fir = '%s' AND    M41Zpl = '%s' AND    M41Wnr = '%s' AND    M41Zzo = '%s' AND    M41Tnr = '%s' AND    M41Von = '%s' )";
const char k41Insert[] =
    R"(INSERT INTO QvSystem.MGSST41P    (M41Trm, M41Fir, M41Zpl,     M41Wnr, M41Zzo, M41Tnr,     M41Von, M41Bis, M41Dat)  VALUES ('%s', '%s', '%s',          '%s', '%s', '%s',          '%s', '%s', CURRENT_TIMESTAMP))";
const char k41Sweep[] = R"(DELETE FROM Qvsystem.MGSST41P WHERE  M41Dat = CONVERT(datetime, '19000101', 112))";
const char kTmdMark[] = R"(UPDATE QvSystem.Qvs112Tmd SET    TMDSTA = 4)";
const char kTmdUpdate[] =
    R"( UPDATE QVSYSTEM.QVS112TMD  SET   TMDNAM = '%s',        TMDSTA = NULLIF('%s','') ,        TMDDAT = convert(datetime,NULLIF('%s',''),120),        TMDERF = '%s'  WHERE TMDLIZ = '%s'  AND   TMDNUM = '%s' )";
const char kTmdInsert[] =
    R"( INSERT INTO QVSYSTEM.QVS112TMD  ( TMDLIZ, TMDNUM, TMDNAM, TMDSTA, TMDDAT, TMDERF )  VALUES (  '%s', '%s', '%s', NULLIF('%s',''), convert(datetime,NULLIF('%s',''),120),  '%s' ))";
const char kTmdSweep[] = R"(DELETE FROM QVSYSTEM.QVS112TMD WHERE TMDSTA = 4 )";
const char kStoInsert[] =
    R"( INSERT INTO QVSYSTEM.QVS113STO (StoNum, StoSta, StoErf)  VALUES ('%s', '1', 'QvImport' ))";
const char kAwvInsert[] =
    R"( INSERT INTO QVSYSTEM.QVS113Awv (AwvNum, AwvSto, AwvCod,   AwvSta, AwvDat, AwvErf)  VALUES ('%s', '%s', '%s',  '1', CURRENT_TIMESTAMP, 'QvImport' ))";
const char kAswUpdate[] =
    R"( UPDATE  QVSYSTEM.QVS301ASW SET  AswNum = RTRIM('%s'), AswSto = RTRIM('%s'), AswGvo = convert(datetime,NULLIF('%s',''), 112), AswGbi = convert(datetime,NULLIF('%s',''), 112), AswPnr = '%s',  AswNam = '%s',  AswSpr = NULLIF('%s',''),  AswBkl = '%s',  AswPin = '%s',  AswCod = NULLIF('%s',''),  AswGrp = '%s',  AswLiz = '%s',  AswMnd = '%s',  AswAtp = NULLIF('%s',''),  AswAan = '%s',  AswMta = NULLIF('%s',''),  AswSal = '%s',  AswBk2 = '%s',  AswSta = '%s',  AswDat = convert(datetime,NULLIF('%s',''), 120),  AswErf = '%s',  AswMap = '%s',  AswKst = '%s',  AswKal = '%s'  WHERE  AswNum = RTRIM('%s')  AND  AswGvo = convert(datetime,NULLIF('%s',''), 112)  AND  AswBkl = RTRIM('%s'))";
const char kAswInsert[] =
    R"( INSERT INTO QVSYSTEM.QVS301ASW  ( AswNum, AswSto, AswGvo, AswGbi, AswPnr,    AswNam, AswSpr, AswBkl, AswPin, AswCod,    AswGrp, AswLiz, AswMnd, AswAtp, AswAan,    AswMta, AswSal, AswBk2, AswSta, AswDat,    AswErf, AswMap )  VALUES ('%s', '%s',  convert(datetime, NULLIF('%s', ''), 112),  convert(datetime, NULLIF('%s', ''), 112), '%s', '%s', NULLIF('%s', ''), '%s' , '%s', NULLIF('%s', ''), '%s', '%s' , '%s', NULLIF('%s', ''), '%s', NULLIF('%s', ''),  '%s', '%s', '%s' , convert(datetime, NULLIF('%s', ''), 120), '%s', '%s'))";
const char kTswMark[] = R"(UPDATE QvSystem.O2002TSW SET    TSWSTO = '*DEL' )";
const char kTswUpdate[] =
    R"(UPDATE QVSYSTEM.O2002TSW SET  TswSto = RTRIM('%s'),  Tswliz = RTRIM('%s'), TswMnd = RTRIM('%s'),  TswW01 = '%s', TswW02 = '%s',  TswW03 = '%s', TswW04 = '%s',  TswW05 = '%s', TswW06 = '%s',  TswW07 = '%s', TswW08 = '%s',  TswW09 = '%s', TswW10 = '%s',  TswW11 = '%s', TswW12 = '%s',  TswW13 = '%s', TswW14 = '%s',  TswW15 = '%s', TswW16 = '%s',  TswF01 = '%s', TswF02 = '%s',  TswF03 = '%s', TswF04 = '%s',  TswF05 = '%s', TswF06 = '%s',  TswF07 = '%s', TswF08 = '%s',  TswF09 = '%s', TswF10 = '%s',  TswAmp = '%s' WHERE TswIdn = RTRIM('%s') )";
const char kTswInsertAmp[] =
    R"( INSERT INTO QVSYSTEM.O2002TSW  (TswIdn, TswSto, Tswliz, TswMnd,   TswW01, TswW02, TswW03, TswW04,   TswW05, TswW06, TswW07, TswW08,   TswW09, TswW10, TswW11, TswW12,   TswW13, TswW14, TswW15, TswW16,   TswF01, TswF02, TswF03, TswF04,   TswF05, TswF06, TswF07, TswF08,   TswF09, TswF10, TswAmp )  VALUES (RTRIM('%s'), RTRIM('%s'), RTRIM('%s'), RTRIM('%s'),  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s' ) )";
const char kTswInsert[] =
    R"( INSERT INTO QVSYSTEM.O2002TSW  (TswIdn, TswSto, Tswliz, TswMnd,   TswW01, TswW02, TswW03, TswW04,   TswW05, TswW06, TswW07, TswW08,   TswW09, TswW10, TswW11, TswW12,   TswW13, TswW14, TswW15, TswW16,   TswF01, TswF02, TswF03, TswF04,   TswF05, TswF06, TswF07, TswF08,   TswF09, TswF10 )  VALUES (RTRIM('%s'), RTRIM('%s'), RTRIM('%s'), RTRIM('%s'),  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s', '%s', '%s',  '%s', '%s' ) )";
const char kTswSweep[] = R"(DELETE FROM QVSYSTEM.O2002TSW WHERE TSWSTO = '*DEL' )";
const char kKidMark[] = R"(UPDATE  QVSYSTEM.Qvs120Kid    SET  KidSta = 4)";
const char kKidUpdate[] =
    R"( UPDATE  QVSYSTEM.QVS120KID SET  KidNum = '%s',  KidSys = '%s',  KidTxt = '%s',  KidSta = %hd,  KidErf = '%s'  WHERE  KidKst = '%s'  AND  KidMnd = '%s'  AND  KidLiz = '%s')";
const char kKidUpdateNull[] =
    R"( UPDATE  QVSYSTEM.QVS120KID SET  KidNum = null,  KidSys = '%s',  KidTxt = '%s',  KidSta = %hd,  KidErf = '%s'  WHERE  KidKst = '%s'  AND  KidMnd = '%s'  AND  KidLiz = '%s')";
const char kKidInsert[] =
    R"( INSERT INTO QVSYSTEM.QVS120KID  ( KidKst, KidMnd, KidLiz, KidNum,    KidSys, KidTxt, KidSta, KidErf )  VALUES ('%s', '%s', '%s', '%s', '%s', '%s', %hd, '%s' ))";
const char kKidInsertNull[] =
    R"( INSERT INTO QVSYSTEM.QVS120KID  ( KidKst, KidMnd, KidLiz, KidNum,    KidSys, KidTxt, KidSta, KidErf )  VALUES ('%s', '%s', '%s', null, '%s', '%s', %hd, '%s' ))";
const char kKidSweep[] = R"(DELETE  FROM Qvsystem.Qvs120Kid  WHERE  KidSta = 4)";
const char kAwbMark[] = R"(UPDATE  QVSYSTEM.Qvs301Awb    SET  AwbSta = 4)";
const char kAwbUpdate[] =
    R"( UPDATE  QVSYSTEM.QVS301AWB SET  AwbZuv = %ld,  AwbSta = %ld,  AwbDat = CURRENT_TIMESTAMP  WHERE  AwbAsw = '%s'  AND  AwbBkl = '%s'  AND  AwbLiz = '%s' AND  AwbMnd = '%s')";
const char kAwbInsert[] =
    R"( INSERT INTO QVSYSTEM.QVS301AWB  ( AwbAsw, AwbBkl, AwbLiz, AwbMnd,    AwbZuv, AwbSta, AwbDat )  VALUES ('%s', '%s', '%s', '%s', %ld, %ld, CURRENT_TIMESTAMP))";
const char kAwbSweep[] = R"(DELETE  FROM Qvsystem.Qvs301Awb  WHERE  AwbSta = 4)";
const char kFtgMark[] = R"(UPDATE QvSystem.MGSSTFTG SET    FTGDAT = CONVERT(datetime, '19000101', 112) )";
const char kFtgUpdate[] =
    R"(UPDATE QVSYSTEM.MGSSTFTG    SET FTGJHR = '%s', FTGTXT = '%s',  FTGKRT = '%s',  FTGDAT = CURRENT_TIMESTAMP WHERE  FTGTRM = '%s' AND    FTGDTM = '%s' AND    FTGLIZ = '%s' AND    FTGMND = '%s' AND    FTGKAL = '%s' )";
const char kFtgInsert[] =
    R"(INSERT INTO QVSYSTEM.MGSSTFTG  (FTGTrm, FTGLiz, FTGMnd,   FTGJhr, FTGDtm, FTGTxt,   FTGKrt, FTGKal,   FTGDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s',  CURRENT_TIMESTAMP) )";
const char kFtgSweep[] = R"(DELETE FROM Qvsystem.MGSSTFTG WHERE CONVERT(char(11), FTGDAT, 112) = '19000101' )";
const char kMstMark[] = R"(UPDATE QvSystem.MGSSTMST SET    MSTDAT = CONVERT(datetime, '19000101', 112) )";
const char kMstUpdate[] =
    R"(UPDATE QVSYSTEM.MGSSTMST  SET    MSTAbe = '%s', MSTSbe = '%s', MSTKrt = '%s', MSTVon = '%s', MSTAbt = '%s', MSTUh1 = '%s', MSTFcd = '%s', MSTDat = CURRENT_TIMESTAMP WHERE  MSTLIZ = '%s' AND    MSTMND = '%s' AND    MSTASW = '%s' AND    MSTVBI = '%s' AND    MSTKST = '%s' AND    MSTSTS = '%s' )";
const char kMstInsert[] =
    R"(INSERT INTO QVSYSTEM.MGSSTMST  (MSTLiz, MSTMnd, MSTAsw,  MSTSts, MSTVbi, MSTAbe,  MSTSbe, MSTKrt, MSTKst,  MSTVon, MSTAbt, MstUh1,   MSTFcd,   MSTDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  '%s',  CURRENT_TIMESTAMP) )";
const char kMstSweep[] = R"(DELETE FROM Qvsystem.MGSSTMST WHERE CONVERT(char(11), MSTDAT, 112) = '19000101' )";
const char kMdtMark[] = R"(UPDATE QvSystem.MGSSTMDT SET    MDTDAT = CONVERT(datetime, '19000101', 112) )";
const char kMdtUpdate[] =
    R"(UPDATE QVSYSTEM.MGSSTMDT SET MDTAbe = '%s', MDTSbe = '%s',     MDTKrt = '%s', MDTFcd = '%s',     MDTDat = CURRENT_TIMESTAMP WHERE MDTLIZ = '%s' AND   MDTMND = '%s' AND   MDTASW = '%s' AND   MDTDTM = '%s' AND   MDTSTS = '%s' )";
const char kMdtInsert[] =
    R"(INSERT INTO QVSYSTEM.MGSSTMDT  (MDTLiz, MDTMnd, MDTAsw,   MDTDtm, MDTAbe, MDTSbe,   MDTSts, MDTKrt, MDTFcd,   MDTDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', '%s', '%s',  CURRENT_TIMESTAMP) )";
const char kMdtSweep[] = R"(DELETE FROM QVSYSTEM.MGSSTMDT WHERE CONVERT(char(11), MDTDAT, 112) = '19000101' )";
const char kFcdMark[] = R"(UPDATE QvSystem.MGSSTFCD SET    FCDDAT = CONVERT(datetime, '19000101', 112) )";
const char kFcdUpdate[] =
    R"(UPDATE QVSYSTEM.MGSSTFCD SET    FCDKrt = '%s', FCDTxt = '%s', FCDTyp = '%s',        FCDFcd = '%s', FCDDat = CURRENT_TIMESTAMP WHERE FCDLIZ = '%s' AND   FCDMND = '%s' AND   FCDNUM = '%s' )";
const char kFcdInsert[] =
    R"(INSERT INTO QVSYSTEM.MGSSTFCD  (FCDLiz, FCDMnd, FCDNum,  FCDKrt, FCDTxt, FCDTyp,  FCDFcd, FcdDat)  VALUES ('%s', '%s', '%s',  '%s', '%s', '%s',  '%s', CURRENT_TIMESTAMP) )";
const char kFcdSweep[] = R"(DELETE FROM Qvsystem.MGSSTFCD WHERE CONVERT(char(11), FCDDAT, 112) = '19000101' )";

#define EXPECT_RUNS(db, sql, n)                                                           \
  do {                                                                                    \
    Result r_ = (db).Exec(sql);                                                           \
    EXPECT_TRUE(r_.ok) << (sql) << "\n-> " << r_.error.native << " " << r_.error.message; \
    EXPECT_EQ(r_.changes, (n)) << (sql);                                                  \
  } while (0)

const char kMarked[] = "1900-01-01 00:00:00.000";

std::vector<std::string> Key20(const std::string& trm) { return {trm, "A", "1", "12 45", "0800"}; }

TEST(TsqlStatements, Mgsst20pUpsertMarkAndSweepKeepOnlyDeliveredRows) {
  Db db;
  EXPECT_RUNS(db, k20Mark, 0);  // an empty table: the driver reports 100
  auto update = [&](const std::string& ofb, const std::string& trm) {
    std::vector<std::string> v = {ofb};
    for (const std::string& k : Key20(trm)) v.push_back(k);
    return Fill(k20Update, v);
  };
  auto insert = [&](const std::string& trm, const std::string& ofb) {
    std::vector<std::string> v = Key20(trm);
    v.push_back(ofb);
    return Fill(k20Insert, v);
  };
  EXPECT_RUNS(db, update("0815", "TERM 1"), 0);
  EXPECT_RUNS(db, insert("TERM 1", "0815"), 1);
  // The key compares as SQL Server's default collation does.
  EXPECT_RUNS(db, update("0900", "term 1  "), 1);
  EXPECT_RUNS(db, insert("TERM 2", "1000"), 1);
  EXPECT_EQ(db.Value("SELECT M20Ofb FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM 1'"), "0900");

  EXPECT_RUNS(db, k20Mark, 2);
  EXPECT_EQ(db.Rows("SELECT M20Dat FROM QVSYSTEM.MGSST20P"), (std::vector<Row>{{kMarked}, {kMarked}}));
  EXPECT_RUNS(db, update("0901", "TERM 1"), 1);
  EXPECT_NE(db.Value("SELECT M20Dat FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM 1'"), kMarked);
  EXPECT_RUNS(db, k20Sweep, 1);
  EXPECT_EQ(db.Rows("SELECT M20Trm, M20Zz2, M20Ofb FROM QVSYSTEM.MGSST20P"),
            (std::vector<Row>{{"TERM 1", "12 45", "0901"}}));
  EXPECT_RUNS(db, k20Sweep, 0);  // nothing left marked: the driver reports 100
}

TEST(TsqlStatements, Mgsst35pRowsAndZkoUpdateOfZoneTable) {
  Db db;
  std::vector<std::string> key = {"T1", "F1", "BKL", "01", "W1", "WP1"};
  std::vector<std::string> upd = {"Z1", "Z2", "B"};
  upd.insert(upd.end(), key.begin(), key.end());
  std::vector<std::string> ins = key;
  ins.insert(ins.end(), {"Z1", "Z2", "B"});
  EXPECT_RUNS(db, k35Mark, 0);
  EXPECT_RUNS(db, Fill(k35Update, upd), 0);
  EXPECT_RUNS(db, Fill(k35Insert, ins), 1);
  EXPECT_RUNS(db, Fill(k35Update, upd), 1);
  EXPECT_RUNS(db, k35Mark, 1);
  EXPECT_RUNS(db, k35Sweep, 1);

  EXPECT_RUNS(db, "INSERT INTO QVSYSTEM.QVS401ZLS (ZLSTRM, ZLSLES, ZLSZKO) VALUES ('T1', '01', 'OLD')", 1);
  EXPECT_RUNS(db, Fill(kZlsUpdate, {"NEW", "T1", "01"}), 1);
  EXPECT_RUNS(db, Fill(kZlsUpdate, {"NEW", "T1", "02"}), 0);
  EXPECT_EQ(db.Value("SELECT ZLSZKO FROM QVSYSTEM.QVS401ZLS"), "NEW");
}

TEST(TsqlStatements, Mgsst41pRowDifferingInVonIsAnotherRow) {
  Db db;
  std::vector<std::string> key = {"T1", "F1", "Z1", "W1", "ZZ", "1", "0800"};
  std::vector<std::string> upd = {"1600"};
  upd.insert(upd.end(), key.begin(), key.end());
  std::vector<std::string> ins = key;
  ins.emplace_back("1600");
  EXPECT_RUNS(db, Fill(k41Update, upd), 0);
  EXPECT_RUNS(db, Fill(k41Insert, ins), 1);
  ins[6] = "0900";
  EXPECT_RUNS(db, Fill(k41Insert, ins), 1);
  upd[7] = "0900";
  upd[0] = "1700";
  EXPECT_RUNS(db, Fill(k41Update, upd), 1);
  EXPECT_RUNS(db, k41Mark, 2);
  EXPECT_RUNS(db, Fill(k41Update, upd), 1);
  EXPECT_RUNS(db, k41Sweep, 1);
  EXPECT_EQ(db.Rows("SELECT M41Von, M41Bis FROM QVSYSTEM.MGSST41P"), (std::vector<Row>{{"0900", "1700"}}));
}

TEST(TsqlStatements, Qvs112TmdStatusAndDateFromTextAndNullForBlanks) {
  Db db;
  EXPECT_RUNS(db, Fill(kTmdUpdate, {"Name", "1", "20240131 13:45:59", "erf", "L1", "N1"}), 0);
  EXPECT_RUNS(db, Fill(kTmdInsert, {"L1", "N1", "Name", "1", "20240131 13:45:59", "erf"}), 1);
  EXPECT_RUNS(db, Fill(kTmdInsert, {"L1", "N2", "D''Angelo", "", "", "erf"}), 1);
  EXPECT_EQ(db.Rows("SELECT TMDNUM, TMDNAM, TMDSTA, TMDDAT FROM QVSYSTEM.Qvs112Tmd ORDER BY TMDNUM"),
            (std::vector<Row>{{"N1", "Name", "1", "2024-01-31 13:45:59.000"}, {"N2", "D'Angelo", "<NULL>", "<NULL>"}}));
  EXPECT_RUNS(db, kTmdMark, 2);
  // N1 delivered with status 4 goes, N2 delivered with a blank status stays.
  EXPECT_RUNS(db, Fill(kTmdUpdate, {"Name", "4", "", "erf", "L1", "N1"}), 1);
  EXPECT_RUNS(db, Fill(kTmdUpdate, {"Name", "", "", "erf", "L1", "N2"}), 1);
  EXPECT_RUNS(db, kTmdSweep, 1);
  EXPECT_EQ(db.Rows("SELECT TMDNUM, TMDSTA FROM QVSYSTEM.Qvs112Tmd"), (std::vector<Row>{{"N2", "<NULL>"}}));
}

std::vector<std::string> AswValues(const std::string& num, const std::string& gvo, const std::string& name) {
  // AswNum .. AswMap (22), as the IDN importer fills them.
  return {num,   "0",   gvo,   "", "PNR", name, "",    "0",   "PIN", "",
          "GRP", "LIZ", "MND", "", "AAN", "",   "SAL", "BK2", "1",   "20240102 10:11:12",
          "ERF", "M"};
}

std::vector<std::string> AswUpdate(const std::vector<std::string>& v, const std::string& kst, const std::string& kal) {
  std::vector<std::string> out = v;
  out.push_back(kst);
  out.push_back(kal);
  out.push_back(v[0]);
  out.push_back(v[2]);
  out.push_back(v[7]);
  return out;
}

TEST(TsqlStatements, IdnSideRowsOnceUpsertByNumDateBklAndNullsForBlanks) {
  Db db;
  EXPECT_RUNS(db, Fill(kStoInsert, {"0"}), 1);
  Result again = db.Exec(Fill(kStoInsert, {"0"}));
  EXPECT_FALSE(again.ok);
  EXPECT_EQ(again.error.native, 2627);
  EXPECT_RUNS(db, Fill(kAwvInsert, {"A1", "0", ""}), 1);
  again = db.Exec(Fill(kAwvInsert, {"A1", "0", ""}));
  EXPECT_EQ(again.error.native, 2627);

  std::vector<std::string> v = AswValues("A1", "20240101", "O''Brien");
  EXPECT_RUNS(db, Fill(kAswUpdate, AswUpdate(v, "KST", "K1")), 0);
  EXPECT_RUNS(db, Fill(kAswInsert, v), 1);
  EXPECT_EQ(db.Rows("SELECT AswNam, AswGvo, AswGbi, AswSpr, AswCod, AswDat, AswKst, AswKal FROM QVSYSTEM.Qvs301Asw"),
            (std::vector<Row>{{"O'Brien", "2024-01-01 00:00:00.000", "<NULL>", "<NULL>", "<NULL>",
                               "2024-01-02 10:11:12.000", "<NULL>", "<NULL>"}}));
  EXPECT_RUNS(db, Fill(kAswUpdate, AswUpdate(v, "KST", "")), 1);
  EXPECT_EQ(db.Rows("SELECT AswKst, AswKal FROM QVSYSTEM.Qvs301Asw"), (std::vector<Row>{{"KST", ""}}));

  // An empty key date writes NULL, which no later UPDATE can match.
  std::vector<std::string> noDate = AswValues("A2", "", "X");
  EXPECT_RUNS(db, Fill(kAswInsert, noDate), 1);
  EXPECT_RUNS(db, Fill(kAswUpdate, AswUpdate(noDate, "", "")), 0);
  EXPECT_RUNS(db, Fill(kAswInsert, noDate), 1);
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM QVSYSTEM.Qvs301Asw WHERE AswGvo IS NULL"), "2");
}

std::vector<std::string> TswValues(const std::string& idn, const std::string& sto, bool withAmp) {
  std::vector<std::string> v = {idn, sto, "LIZ", "MND"};
  for (int i = 1; i <= 16; ++i) v.push_back("W" + std::to_string(i));
  for (int i = 1; i <= 10; ++i) v.push_back("F" + std::to_string(i));
  if (withAmp) v.emplace_back("AMP");
  return v;
}

TEST(TsqlStatements, O2002TswBothInsertFormsAndDelMarkSweep) {
  Db db;
  std::vector<std::string> a = TswValues("ID1", "S1", true);
  std::vector<std::string> upd(a.begin() + 1, a.end());
  upd.emplace_back("ID1");
  EXPECT_RUNS(db, Fill(kTswUpdate, upd), 0);
  EXPECT_RUNS(db, Fill(kTswInsertAmp, a), 1);
  EXPECT_RUNS(db, Fill(kTswInsert, TswValues("ID2", "S2", false)), 1);
  EXPECT_EQ(db.Rows("SELECT TswIdn, TswW16, TswF10, TswAmp FROM QVSYSTEM.O2002TSW ORDER BY TswIdn"),
            (std::vector<Row>{{"ID1", "W16", "F10", "AMP"}, {"ID2", "W16", "F10", "<NULL>"}}));
  EXPECT_RUNS(db, kTswMark, 2);
  EXPECT_RUNS(db, Fill(kTswUpdate, upd), 1);
  EXPECT_RUNS(db, kTswSweep, 1);
  EXPECT_EQ(db.Rows("SELECT TswIdn, TswSto FROM QVSYSTEM.O2002TSW"), (std::vector<Row>{{"ID1", "S1"}}));
}

TEST(TsqlStatements, Qvs120KidNumberOrNullAndStatusMark) {
  Db db;
  EXPECT_RUNS(db, Fill(kKidUpdate, {"1234567", "SYS", "Text", "1", "ERF", "KST1", "M1", "L1"}), 0);
  EXPECT_RUNS(db, Fill(kKidInsert, {"KST1", "M1", "L1", "1234567", "SYS", "Text", "1", "ERF"}), 1);
  EXPECT_RUNS(db, Fill(kKidInsertNull, {"KST2", "M1", "L1", "SYS", "Text", "1", "ERF"}), 1);
  EXPECT_RUNS(db, kKidMark, 2);
  // A blank number overwrites the stored one with NULL.
  EXPECT_RUNS(db, Fill(kKidUpdateNull, {"SYS", "Neu", "1", "ERF", "KST1", "M1", "L1"}), 1);
  EXPECT_RUNS(db, kKidSweep, 1);
  EXPECT_EQ(db.Rows("SELECT KidKst, KidNum, KidTxt, KidSta FROM QVSYSTEM.Qvs120Kid"),
            (std::vector<Row>{{"KST1", "<NULL>", "Neu", "1"}}));
}

TEST(TsqlStatements, Qvs301AwbNumbersAndStatusMark) {
  Db db;
  EXPECT_RUNS(db, Fill(kAwbUpdate, {"3", "1", "ASW1", "B1", "L1", "M1"}), 0);
  EXPECT_RUNS(db, Fill(kAwbInsert, {"ASW1", "B1", "L1", "M1", "3", "1"}), 1);
  EXPECT_RUNS(db, Fill(kAwbInsert, {"ASW2", "B1", "L1", "M1", "0", "1"}), 1);
  EXPECT_RUNS(db, kAwbMark, 2);
  EXPECT_RUNS(db, Fill(kAwbUpdate, {"7", "1", "asw1", "b1", "l1", "m1"}), 1);
  EXPECT_RUNS(db, kAwbSweep, 1);
  EXPECT_EQ(db.Rows("SELECT AwbAsw, AwbZuv, AwbSta FROM QVSYSTEM.Qvs301Awb"), (std::vector<Row>{{"ASW1", "7", "1"}}));
}

TEST(TsqlStatements, TwoLengthTablesUpsertMarkAndDatePartSweep) {
  Db db;
  // FTG
  EXPECT_RUNS(db, Fill(kFtgUpdate, {"2024", "Neujahr", "K", "T1", "20240101", "L1", "M1", ""}), 0);
  EXPECT_RUNS(db, Fill(kFtgInsert, {"T1", "L1", "M1", "2024", "20240101", "Neujahr", "K", ""}), 1);
  EXPECT_RUNS(db, Fill(kFtgInsert, {"T1", "L1", "M1", "2024", "20241225", "Weihnacht", "K", "KAL"}), 1);
  EXPECT_RUNS(db, kFtgMark, 2);
  EXPECT_RUNS(db, Fill(kFtgUpdate, {"2024", "Neujahr", "K", "T1", "20240101", "L1", "M1", ""}), 1);
  EXPECT_RUNS(db, kFtgSweep, 1);
  EXPECT_EQ(db.Value("SELECT FTGDTM FROM QVSYSTEM.MGSSTFTG"), "20240101");
  // MST
  std::vector<std::string> mst = {"L1", "M1", "ASW", "1", "VBI", "ABE", "SBE", "K", "KST", "VON", "ABT", "UH1", "FCD"};
  auto mstUpdate = [&](const std::vector<std::string>& m) {
    return Fill(kMstUpdate, {m[5], m[6], m[7], m[9], m[10], m[11], m[12], m[0], m[1], m[2], m[4], m[8], m[3]});
  };
  EXPECT_RUNS(db, mstUpdate(mst), 0);
  EXPECT_RUNS(db, Fill(kMstInsert, mst), 1);
  EXPECT_RUNS(db, kMstMark, 1);
  mst[11] = "";
  mst[12] = "";
  EXPECT_RUNS(db, mstUpdate(mst), 1);
  EXPECT_RUNS(db, kMstSweep, 0);
  EXPECT_EQ(db.Rows("SELECT MSTUh1, MSTFcd FROM QVSYSTEM.MGSSTMST"), (std::vector<Row>{{"", ""}}));
  // MDT
  std::vector<std::string> mdt = {"L1", "M1", "ASW", "2024-01-01", "ABE", "SBE", "1", "K", "FCD"};
  EXPECT_RUNS(db, Fill(kMdtUpdate, {"ABE", "SBE", "K", "FCD", "L1", "M1", "ASW", "2024-01-01", "1"}), 0);
  EXPECT_RUNS(db, Fill(kMdtInsert, mdt), 1);
  EXPECT_RUNS(db, kMdtMark, 1);
  EXPECT_RUNS(db, kMdtSweep, 1);
  // FCD
  EXPECT_RUNS(db, Fill(kFcdUpdate, {"K1", "Text", "TYP", "FCD", "L1", "M1", "001"}), 0);
  EXPECT_RUNS(db, Fill(kFcdInsert, {"L1", "M1", "001", "K1", "Text", "TYP", "FCD"}), 1);
  EXPECT_RUNS(db, Fill(kFcdUpdate, {"K2", "Neu", "", "", "L1", "M1", "001"}), 1);
  EXPECT_RUNS(db, kFcdMark, 1);
  EXPECT_RUNS(db, kFcdSweep, 1);
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM QVSYSTEM.MGSSTFCD"), "0");
}

TEST(TsqlStatements, DatePartSweepTakesAnyTimeOfTheDayFullSweepOnlyMidnight) {
  Db db;
  EXPECT_RUNS(db, Fill(kFtgInsert, {"T1", "L1", "M1", "2024", "20240101", "Neujahr", "K", ""}), 1);
  EXPECT_RUNS(db, "UPDATE QVSYSTEM.MGSSTFTG SET FTGDAT = CONVERT(datetime, '19000101 10:30:00', 120)", 1);
  EXPECT_RUNS(db, kFtgSweep, 1);
  EXPECT_RUNS(db, Fill(k20Insert, {"T", "A", "1", "12345", "0800", "0900"}), 1);
  EXPECT_RUNS(db, "UPDATE QVSYSTEM.MGSST20P SET M20Dat = CONVERT(datetime, '19000101 10:30:00', 120)", 1);
  EXPECT_RUNS(db, k20Sweep, 0);
}

TEST(TsqlStatements, TimestampQueryGivesOneRowOfLocalDateAndTime) {
  Db db;
  std::time_t before = std::time(nullptr);
  std::vector<Row> rows = db.Rows(kTimestamp);
  std::time_t after = std::time(nullptr);
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 1u);
  const std::string& s = rows[0][0];
  ASSERT_EQ(s.size(), 19u) << s;
  const std::string shape = "dd.dd.dddd dd:dd:dd";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd') {
      EXPECT_TRUE(s[i] >= '0' && s[i] <= '9') << s;
    } else {
      EXPECT_EQ(s[i], shape[i]) << s;
    }
  }
  std::tm tm{};
  tm.tm_mday = std::stoi(s.substr(0, 2));
  tm.tm_mon = std::stoi(s.substr(3, 2)) - 1;
  tm.tm_year = std::stoi(s.substr(6, 4)) - 1900;
  tm.tm_hour = std::stoi(s.substr(11, 2));
  tm.tm_min = std::stoi(s.substr(14, 2));
  tm.tm_sec = std::stoi(s.substr(17, 2));
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  EXPECT_GE(t, before - 1) << s;
  EXPECT_LE(t, after + 1) << s;
}

}  // namespace
