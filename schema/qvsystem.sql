-- QVSYSTEM: the tables that kranzel imports into.
--
-- T-SQL DDL for SQL Server. The stand-in database runs this file itself
-- (kranzel-standin create DB_PATH schema/qvsystem.sql); on a real SQL Server
-- it sets up a test database (sqlcmd -d <database> -i qvsystem.sql).
--
-- A text column is varchar(n) for a field of n characters of the interface
-- file; date columns are datetime; status and number columns that the
-- statements write without quotes are int. The primary keys are the keys by
-- which the importers' UPDATEs find a row. Qvs301Asw has no primary key, as
-- its key date AswGvo may be NULL; an index serves its UPDATE instead.
-- Columns into which an importer writes NULL, or which an INSERT leaves out,
-- are nullable.

CREATE SCHEMA QVSYSTEM
GO

-- 20P: terminal settings
CREATE TABLE QVSYSTEM.MGSST20P (
  M20Trm varchar(255) NOT NULL,
  M20Sch varchar(2)   NOT NULL,
  M20Tg1 varchar(1)   NOT NULL,
  M20Zz2 varchar(5)   NOT NULL,
  M20Ofv varchar(4)   NOT NULL,
  M20Ofb varchar(4)   NULL,
  M20Dat datetime     NULL,
  CONSTRAINT PK_MGSST20P PRIMARY KEY (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv)
)
GO

-- 35P: terminal settings; its "*ZKO" records update QVS401ZLS
CREATE TABLE QVSYSTEM.MGSST35P (
  M35Trm varchar(255) NOT NULL,
  M35Fir varchar(3)   NOT NULL,
  M35Bkl varchar(5)   NOT NULL,
  M35Les varchar(2)   NOT NULL,
  M35Wle varchar(2)   NOT NULL,
  M35Wpl varchar(3)   NOT NULL,
  M35Zko varchar(5)   NULL,
  M35Zzo varchar(5)   NULL,
  M35Bch varchar(1)   NULL,
  M35Dat datetime     NULL,
  CONSTRAINT PK_MGSST35P PRIMARY KEY (M35Trm, M35Fir, M35Bkl, M35Les, M35Wle, M35Wpl)
)
GO

CREATE TABLE QVSYSTEM.QVS401ZLS (
  ZLSTRM varchar(255) NOT NULL,
  ZLSLES varchar(2)   NOT NULL,
  ZLSZKO varchar(5)   NULL,
  CONSTRAINT PK_QVS401ZLS PRIMARY KEY (ZLSTRM, ZLSLES)
)
GO

-- 41P: terminal settings
CREATE TABLE QVSYSTEM.MGSST41P (
  M41Trm varchar(255) NOT NULL,
  M41Fir varchar(3)   NOT NULL,
  M41Zpl varchar(3)   NOT NULL,
  M41Wnr varchar(2)   NOT NULL,
  M41Zzo varchar(5)   NOT NULL,
  M41Tnr varchar(1)   NOT NULL,
  M41Von varchar(4)   NOT NULL,
  M41Bis varchar(4)   NULL,
  M41Dat datetime     NULL,
  CONSTRAINT PK_MGSST41P PRIMARY KEY (M41Trm, M41Fir, M41Zpl, M41Wnr, M41Zzo, M41Tnr, M41Von)
)
GO

-- MND: clients
CREATE TABLE QVSYSTEM.Qvs112Tmd (
  TMDLIZ varchar(5)  NOT NULL,
  TMDNUM varchar(5)  NOT NULL,
  TMDNAM varchar(50) NULL,
  TMDSTA int         NULL,
  TMDDAT datetime    NULL,
  TMDERF varchar(50) NULL,
  CONSTRAINT PK_Qvs112Tmd PRIMARY KEY (TMDLIZ, TMDNUM)
)
GO

-- IDN: ID master data, and the two side tables it offers rows to
CREATE TABLE QVSYSTEM.Qvs301Asw (
  AswNum varchar(50) NOT NULL,
  AswSto varchar(8)  NULL,
  AswGvo datetime    NULL,
  AswGbi datetime    NULL,
  AswPnr varchar(8)  NULL,
  AswNam varchar(50) NULL,
  AswSpr varchar(5)  NULL,
  AswBkl varchar(5)  NOT NULL,
  AswPin varchar(32) NULL,
  AswCod varchar(5)  NULL,
  AswGrp varchar(5)  NULL,
  AswLiz varchar(5)  NULL,
  AswMnd varchar(5)  NULL,
  AswAtp varchar(2)  NULL,
  AswAan varchar(50) NULL,
  AswMta varchar(2)  NULL,
  AswSal varchar(10) NULL,
  AswBk2 varchar(5)  NULL,
  AswSta varchar(5)  NULL,
  AswDat datetime    NULL,
  AswErf varchar(50) NULL,
  AswMap varchar(1)  NULL,
  AswKst varchar(30) NULL,
  AswKal varchar(3)  NULL
)
GO

CREATE INDEX IX_Qvs301Asw_Key ON QVSYSTEM.Qvs301Asw (AswNum, AswGvo, AswBkl)
GO

CREATE TABLE QVSYSTEM.QVS113STO (
  StoNum varchar(8)  NOT NULL,
  StoSta varchar(1)  NULL,
  StoErf varchar(50) NULL,
  CONSTRAINT PK_QVS113STO PRIMARY KEY (StoNum)
)
GO

CREATE TABLE QVSYSTEM.QVS113Awv (
  AwvNum varchar(50) NOT NULL,
  AwvSto varchar(8)  NOT NULL,
  AwvCod varchar(5)  NULL,
  AwvSta varchar(1)  NULL,
  AwvDat datetime    NULL,
  AwvErf varchar(50) NULL,
  CONSTRAINT PK_QVS113Awv PRIMARY KEY (AwvNum, AwvSto)
)
GO

-- SLD: balances
CREATE TABLE QVSYSTEM.O2002TSW (
  TswIdn varchar(50) NOT NULL,
  TswSto varchar(8)  NULL,
  Tswliz varchar(5)  NULL,
  TswMnd varchar(5)  NULL,
  TswW01 varchar(8)  NULL,
  TswW02 varchar(10) NULL,
  TswW03 varchar(10) NULL,
  TswW04 varchar(10) NULL,
  TswW05 varchar(10) NULL,
  TswW06 varchar(10) NULL,
  TswW07 varchar(10) NULL,
  TswW08 varchar(10) NULL,
  TswW09 varchar(10) NULL,
  TswW10 varchar(10) NULL,
  TswW11 varchar(10) NULL,
  TswW12 varchar(10) NULL,
  TswW13 varchar(10) NULL,
  TswW14 varchar(10) NULL,
  TswW15 varchar(10) NULL,
  TswW16 varchar(10) NULL,
  TswF01 varchar(20) NULL,
  TswF02 varchar(20) NULL,
  TswF03 varchar(20) NULL,
  TswF04 varchar(20) NULL,
  TswF05 varchar(20) NULL,
  TswF06 varchar(20) NULL,
  TswF07 varchar(20) NULL,
  TswF08 varchar(20) NULL,
  TswF09 varchar(20) NULL,
  TswF10 varchar(20) NULL,
  TswAmp varchar(5)  NULL,
  CONSTRAINT PK_O2002TSW PRIMARY KEY (TswIdn)
)
GO

-- KST: cost centres
CREATE TABLE QVSYSTEM.Qvs120Kid (
  KidKst varchar(30) NOT NULL,
  KidMnd varchar(5)  NOT NULL,
  KidLiz varchar(5)  NOT NULL,
  KidNum varchar(7)  NULL,
  KidSys varchar(7)  NULL,
  KidTxt varchar(30) NULL,
  KidSta int         NULL,
  KidErf varchar(50) NULL,
  CONSTRAINT PK_Qvs120Kid PRIMARY KEY (KidKst, KidMnd, KidLiz)
)
GO

-- BKL: AswBkl assignments
CREATE TABLE QVSYSTEM.Qvs301Awb (
  AwbAsw varchar(50) NOT NULL,
  AwbBkl varchar(5)  NOT NULL,
  AwbLiz varchar(5)  NOT NULL,
  AwbMnd varchar(5)  NOT NULL,
  AwbZuv int         NULL,
  AwbSta int         NULL,
  AwbDat datetime    NULL,
  CONSTRAINT PK_Qvs301Awb PRIMARY KEY (AwbAsw, AwbBkl, AwbLiz, AwbMnd)
)
GO

-- FTG: holidays
CREATE TABLE QVSYSTEM.MGSSTFTG (
  FTGTRM varchar(255) NOT NULL,
  FTGLIZ varchar(5)   NOT NULL,
  FTGMND varchar(5)   NOT NULL,
  FTGJHR varchar(4)   NULL,
  FTGDTM varchar(8)   NOT NULL,
  FTGTXT varchar(20)  NULL,
  FTGKRT varchar(1)   NULL,
  FTGKAL varchar(3)   NOT NULL,
  FTGDAT datetime     NULL,
  CONSTRAINT PK_MGSSTFTG PRIMARY KEY (FTGTRM, FTGDTM, FTGLIZ, FTGMND, FTGKAL)
)
GO

-- MST: employee status
CREATE TABLE QVSYSTEM.MGSSTMST (
  MSTLIZ varchar(5)  NOT NULL,
  MSTMND varchar(5)  NOT NULL,
  MSTASW varchar(13) NOT NULL,
  MSTSTS varchar(1)  NOT NULL,
  MSTVBI varchar(23) NOT NULL,
  MSTAbe varchar(33) NULL,
  MSTSbe varchar(33) NULL,
  MSTKrt varchar(1)  NULL,
  MSTKST varchar(50) NOT NULL,
  MSTVon varchar(8)  NULL,
  MSTAbt varchar(30) NULL,
  MSTUh1 varchar(4)  NULL,
  MSTFcd varchar(3)  NULL,
  MSTDAT datetime    NULL,
  CONSTRAINT PK_MGSSTMST PRIMARY KEY (MSTLIZ, MSTMND, MSTASW, MSTVBI, MSTKST, MSTSTS)
)
GO

-- MDT: employee detail
CREATE TABLE QVSYSTEM.MGSSTMDT (
  MDTLIZ varchar(5)  NOT NULL,
  MDTMND varchar(5)  NOT NULL,
  MDTASW varchar(13) NOT NULL,
  MDTDTM varchar(10) NOT NULL,
  MDTAbe varchar(33) NULL,
  MDTSbe varchar(33) NULL,
  MDTSTS varchar(1)  NOT NULL,
  MDTKrt varchar(1)  NULL,
  MDTFcd varchar(3)  NULL,
  MDTDAT datetime    NULL,
  CONSTRAINT PK_MGSSTMDT PRIMARY KEY (MDTLIZ, MDTMND, MDTASW, MDTDTM, MDTSTS)
)
GO

-- FCD: function codes
CREATE TABLE QVSYSTEM.MGSSTFCD (
  FCDLIZ varchar(5)  NOT NULL,
  FCDMND varchar(5)  NOT NULL,
  FCDNUM varchar(3)  NOT NULL,
  FCDKrt varchar(2)  NULL,
  FCDTxt varchar(50) NULL,
  FCDTyp varchar(5)  NULL,
  FCDFcd varchar(5)  NULL,
  FCDDAT datetime    NULL,
  CONSTRAINT PK_MGSSTFCD PRIMARY KEY (FCDLIZ, FCDMND, FCDNUM)
)
GO
