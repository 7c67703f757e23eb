# DBD::Sybase with placeholders against the stand-in's TDS listener: login,
# a typed SELECT, a zero-row and a one-row UPDATE, a duplicate key (2627),
# a rollback, two sessions at once. Prints "ok STEP" for every step passed;
# exits 1 at the first that fails. Environment: PORT.
use strict;
use warnings;
use DBI;

my $dsn = "dbi:Sybase:host=127.0.0.1;port=$ENV{PORT}";
sub connect_db {
  return DBI->connect($dsn, 'kranzel', 'geheim', {RaiseError => 0, PrintError => 0, AutoCommit => 1});
}
sub check {
  my ($step, $ok, $detail) = @_;
  if (!$ok) {
    print "FAILED $step ", ($detail // ''), "\n";
    exit 1;
  }
  print "ok $step\n";
}

my $dbh = connect_db();
check('login', $dbh, $DBI::errstr);
my $sth = $dbh->prepare('SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P WHERE M20Trm = ? GROUP BY M20Trm, M20Dat');
$sth->execute('TERM01') or check('typed-select', 0, $dbh->errstr);
my @row = $sth->fetchrow_array;
my $types = $sth->{TYPE};
$sth->finish;
# The type codes DBD::Sybase gives: 9 (SQL_DATETIME, 11 or 93 elsewhere) a
# datetime, 4 an int; a varchar column reads as text (1).
check('typed-select', $row[0] eq 'TERM01' && ($types->[1] == 9 || $types->[1] == 11 || $types->[1] == 93) && $types->[2] == 4 && $row[2] == 1,
      join(',', @row) . ' types ' . join(',', @$types));
my $upd = $dbh->prepare('UPDATE QVSYSTEM.MGSST20P SET M20Ofb = ? WHERE M20Trm = ?');
my $n = $upd->execute('1', 'NOSUCH');
check('update-0', defined $n && $n == 0, $dbh->errstr);
$n = $upd->execute('1702', 'TERM01');
check('update-1', defined $n && $n == 1, $dbh->errstr);
my $ins = $dbh->prepare("INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) VALUES (?, 'A', '1', '12345', '0800')");
my $r = $ins->execute('TERM01');
check('2627', !$r && $dbh->err == 2627, ($dbh->err // 'no error') . ' ' . ($dbh->errstr // ''));
$dbh->begin_work or check('rollback', 0, $dbh->errstr);
$upd->execute('9999', 'TERM01');
$dbh->rollback or check('rollback', 0, $dbh->errstr);
my ($ofb) = $dbh->selectrow_array("SELECT M20Ofb FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM01'");
check('rollback', defined $ofb && $ofb eq '1702', $ofb);
my $other = connect_db();
my ($a) = $other->selectrow_array('SELECT COUNT(*) FROM QVSYSTEM.MGSST20P');
my ($b) = $dbh->selectrow_array('SELECT COUNT(*) FROM QVSYSTEM.MGSST20P');
check('two-sessions', defined $a && defined $b && $a == 1 && $b == 1);
$other->disconnect;
$dbh->disconnect;
