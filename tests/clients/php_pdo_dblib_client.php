<?php
// PHP's pdo_dblib with its defaults against the stand-in's TDS listener:
// login, a typed SELECT, a zero-row and a one-row UPDATE, a duplicate key
// (2627), a rollback, two sessions at once. Prints "ok STEP" for every step
// passed; exits 1 at the first that fails. Environment: PORT.
require __DIR__ . '/client_check.php';

function connect_db() {
    return new PDO('dblib:host=127.0.0.1:' . getenv('PORT'), 'kranzel', 'geheim');
}
$db = connect_db();
check('login', $db !== null);
$st = $db->prepare('SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P WHERE M20Trm = ? GROUP BY M20Trm, M20Dat');
$st->execute(['TERM01']);
$row = $st->fetch(PDO::FETCH_NUM);
$meta = $st->getColumnMeta(1);
$metaN = $st->getColumnMeta(2);
check('typed-select', $row[0] === 'TERM01' && $row[2] === 1 && stripos($meta['native_type'], 'datetime') !== false,
      var_export([$row, $meta['native_type'], $metaN['native_type']], true));
$st = null;
$upd = $db->prepare('UPDATE QVSYSTEM.MGSST20P SET M20Ofb = ? WHERE M20Trm = ?');
$upd->execute(['1', 'NOSUCH']);
check('update-0', $upd->rowCount() === 0, $upd->rowCount());
$upd->execute(['1703', 'TERM01']);
check('update-1', $upd->rowCount() === 1, $upd->rowCount());
$db->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);
try {
    $db->exec("INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) VALUES ('TERM01', 'A', '1', '12345', '0800')");
    check('2627', false, 'no error');
} catch (PDOException $e) {
    // pdo_dblib reports every server error as DB-Library's 20018 and keeps
    // the server's message and severity; the number itself it drops.
    check('2627', strpos($e->errorInfo[2], 'Violation of PRIMARY KEY constraint') !== false && $e->errorInfo[4] == 14,
          var_export($e->errorInfo, true));
}
$db->beginTransaction();
$upd->execute(['9999', 'TERM01']);
$db->rollBack();
$ofb = $db->query("SELECT M20Ofb FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM01'")->fetchColumn();
check('rollback', $ofb === '1703', var_export($ofb, true));
$other = connect_db();
$a = $other->query('SELECT COUNT(*) FROM QVSYSTEM.MGSST20P')->fetchColumn();
$b = $db->query('SELECT COUNT(*) FROM QVSYSTEM.MGSST20P')->fetchColumn();
check('two-sessions', $a == 1 && $b == 1, "$a $b");
