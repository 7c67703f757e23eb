<?php
// PHP's odbc extension with its defaults, through unixODBC and FreeTDS,
// against the stand-in's TDS listener: login, a typed SELECT, a zero-row
// and a one-row UPDATE, a duplicate key (2627), a rollback, two sessions at
// once. Prints "ok STEP" for every step passed; exits 1 at the first that
// fails. Environment: PORT, ODBCSYSINI naming a directory whose
// odbcinst.ini has the FreeTDS driver.
//
// PHP's default cursor (static) makes FreeTDS run every statement through
// a server cursor (sp_cursoropen, sp_cursorfetch). FreeTDS 1.3 has no
// SQLDescribeParam, which odbc_prepare needs for a '?': statements here
// carry no markers.
require __DIR__ . '/client_check.php';

function connect_db() {
    $dsn = 'Driver=FreeTDS;Server=127.0.0.1;Port=' . getenv('PORT') . ';TDS_Version=7.4;ClientCharset=CP1252';
    return odbc_connect($dsn, 'kranzel', 'geheim');
}
$db = connect_db();
check('login', $db !== false, odbc_errormsg());
$st = odbc_prepare($db, "SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM01' GROUP BY M20Trm, M20Dat");
check('typed-select', $st !== false && odbc_execute($st), odbc_errormsg($db));
odbc_fetch_row($st);
$types = [odbc_field_type($st, 2), odbc_field_type($st, 3)];
check('typed-select', odbc_result($st, 1) === 'TERM01' && $types[0] === 'datetime' && $types[1] === 'int',
      var_export($types, true));
odbc_free_result($st);
$upd = odbc_exec($db, "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1' WHERE M20Trm = 'NOSUCH'");
check('update-0', $upd !== false && odbc_num_rows($upd) === 0, odbc_errormsg($db));
$upd = odbc_exec($db, "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1704' WHERE M20Trm = 'TERM01'");
check('update-1', $upd !== false && odbc_num_rows($upd) === 1, odbc_errormsg($db));
$r = @odbc_exec($db, "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) VALUES ('TERM01', 'A', '1', '12345', '0800')");
check('2627', $r === false && odbc_error($db) === '23000' && strpos(odbc_errormsg($db), 'PRIMARY KEY') !== false,
      odbc_errormsg($db));
odbc_autocommit($db, false);
odbc_exec($db, "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '9999' WHERE M20Trm = 'TERM01'");
odbc_rollback($db);
odbc_autocommit($db, true);
$q = odbc_exec($db, "SELECT M20Ofb FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM01'");
odbc_fetch_row($q);
check('rollback', odbc_result($q, 1) === '1704', odbc_result($q, 1));
odbc_free_result($q);
$other = connect_db();
$qa = odbc_exec($other, 'SELECT COUNT(*) FROM QVSYSTEM.MGSST20P');
odbc_fetch_row($qa);
$qb = odbc_exec($db, 'SELECT COUNT(*) FROM QVSYSTEM.MGSST20P');
odbc_fetch_row($qb);
check('two-sessions', odbc_result($qa, 1) == 1 && odbc_result($qb, 1) == 1);
