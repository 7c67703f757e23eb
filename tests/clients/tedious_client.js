// tedious (execSql with parameters, a transaction) against the stand-in's
// TDS listener: login, a typed SELECT, a zero-row and a one-row UPDATE, a
// duplicate key (2627), a rollback, two sessions at once. Prints "ok STEP"
// for every step passed; exits 1 at the first that fails. Environment:
// PORT; NODE_PATH names the folder tedious is installed in.
'use strict';
const { Connection, Request, TYPES } = require('tedious');

function check(step, ok, detail) {
  if (!ok) {
    console.log(`FAILED ${step} ${detail === undefined ? '' : detail}`);
    process.exit(1);
  }
  console.log(`ok ${step}`);
}

function connect() {
  return new Promise((resolve, reject) => {
    const c = new Connection({
      server: '127.0.0.1',
      authentication: { type: 'default', options: { userName: 'kranzel', password: 'geheim' } },
      options: { port: Number(process.env.PORT), encrypt: false, trustServerCertificate: true },
    });
    c.on('connect', (err) => (err ? reject(err) : resolve(c)));
    c.connect();
  });
}

// Runs `sql` with `params` ([name, type, value]); resolves with the rows
// (arrays of values) and the row count, rejects with the error.
function exec(c, sql, params = []) {
  return new Promise((resolve, reject) => {
    const rows = [];
    const r = new Request(sql, (err, rowCount) => (err ? reject(err) : resolve({ rows, rowCount })));
    for (const [name, type, value] of params) r.addParameter(name, type, value);
    r.on('row', (cols) => rows.push(cols.map((col) => col.value)));
    c.execSql(r);
  });
}

function tx(c, what) {
  return new Promise((resolve, reject) => c[what]((err) => (err ? reject(err) : resolve())));
}

(async () => {
  let c;
  try {
    c = await connect();
    check('login', true);
  } catch (e) {
    check('login', false, e.message);
  }
  const sel = await exec(c,
    'SELECT M20Trm, M20Dat, COUNT(*) AS n FROM QVSYSTEM.MGSST20P WHERE M20Trm = @trm GROUP BY M20Trm, M20Dat',
    [['trm', TYPES.NVarChar, 'TERM01']]);
  const row = sel.rows[0];
  check('typed-select', row[0] === 'TERM01' && row[1] instanceof Date && row[2] === 1, JSON.stringify(row));
  const upd = 'UPDATE QVSYSTEM.MGSST20P SET M20Ofb = @ofb WHERE M20Trm = @trm';
  let r = await exec(c, upd, [['ofb', TYPES.VarChar, '1'], ['trm', TYPES.NVarChar, 'NOSUCH']]);
  check('update-0', r.rowCount === 0, r.rowCount);
  r = await exec(c, upd, [['ofb', TYPES.VarChar, '1705'], ['trm', TYPES.NVarChar, 'TERM01']]);
  check('update-1', r.rowCount === 1, r.rowCount);
  try {
    await exec(c, "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) VALUES (@trm, 'A', '1', '12345', '0800')",
      [['trm', TYPES.NVarChar, 'TERM01']]);
    check('2627', false, 'no error');
  } catch (e) {
    check('2627', e.number === 2627, `${e.number} ${e.message}`);
  }
  await tx(c, 'beginTransaction');
  await exec(c, upd, [['ofb', TYPES.VarChar, '9999'], ['trm', TYPES.NVarChar, 'TERM01']]);
  await tx(c, 'rollbackTransaction');
  r = await exec(c, "SELECT M20Ofb FROM QVSYSTEM.MGSST20P WHERE M20Trm = 'TERM01'");
  check('rollback', r.rows[0][0] === '1705', JSON.stringify(r.rows));
  const other = await connect();
  const [a, b] = await Promise.all([
    exec(other, 'SELECT COUNT(*) FROM QVSYSTEM.MGSST20P'),
    exec(c, 'SELECT COUNT(*) FROM QVSYSTEM.MGSST20P'),
  ]);
  check('two-sessions', a.rows[0][0] === 1 && b.rows[0][0] === 1);
  other.close();
  c.close();
})().catch((e) => {
  console.log(`FAILED ${e.message}`);
  process.exit(1);
});
