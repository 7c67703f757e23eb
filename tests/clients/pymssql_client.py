# pymssql with its defaults against the stand-in's TDS listener: login, a
# typed SELECT, a zero-row and a one-row UPDATE, a duplicate key (2627), a
# rollback, two sessions at once. Prints "ok STEP" for every step passed;
# exits 1 at the first that fails. Environment: PORT.
import datetime
import os
import sys

import pymssql


def connect():
    return pymssql.connect(server="127.0.0.1", port=os.environ["PORT"], user="kranzel", password="geheim")


def check(step, cond, detail=""):
    if not cond:
        print("FAILED %s %s" % (step, detail))
        sys.exit(1)
    print("ok " + step)


conn = connect()
check("login", conn is not None)
cur = conn.cursor()
cur.execute("SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P WHERE M20Trm = %s GROUP BY M20Trm, M20Dat",
            ("TERM01",))
row = cur.fetchone()
check("typed-select", row[0] == "TERM01" and isinstance(row[1], datetime.datetime) and row[2] == 1, repr(row))
cur.execute("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = %s WHERE M20Trm = %s", ("1", "NOSUCH"))
check("update-0", cur.rowcount == 0, cur.rowcount)
cur.execute("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = %s WHERE M20Trm = %s", ("1701", "TERM01"))
check("update-1", cur.rowcount == 1, cur.rowcount)
conn.commit()
try:
    cur.execute("INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) "
                "VALUES ('TERM01', 'A', '1', '12345', '0800')")
    check("2627", False, "no error")
except pymssql.IntegrityError as e:
    check("2627", e.args[0] == 2627, repr(e.args))
conn.rollback()
cur.execute("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '9999' WHERE M20Trm = 'TERM01'")
conn.rollback()
cur.execute("SELECT M20Ofb FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM01'")
check("rollback", cur.fetchone()[0] == "1701")
conn.commit()
other = connect()
c2 = other.cursor()
c2.execute("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P")
n2 = c2.fetchone()[0]
cur.execute("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P")
check("two-sessions", n2 == 1 and cur.fetchone()[0] == 1)
other.close()
conn.close()
