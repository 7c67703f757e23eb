// Stale and foreign handles at the driver's own entry points. The unixODBC
// driver manager checks its handles itself and never passes a freed one on,
// so these calls go to the driver library directly (dlopen), as a manager
// without that check or a program linked to the driver would make them.
// Under the sanitizer build a handle check that read through a freed handle
// fails here as a use after free.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "standin/driver_test_util.h"

namespace standin_test {
namespace {

// The driver's entry points, looked up in the library itself.
struct DriverEntryPoints {
  void* lib = nullptr;
  decltype(&::SQLAllocHandle) allocHandle = nullptr;
  decltype(&::SQLFreeHandle) freeHandle = nullptr;
  decltype(&::SQLSetEnvAttr) setEnvAttr = nullptr;
  decltype(&::SQLDriverConnect) driverConnect = nullptr;
  decltype(&::SQLDisconnect) disconnect = nullptr;
  decltype(&::SQLExecDirect) execDirect = nullptr;

  DriverEntryPoints() {
    lib = dlopen(STANDIN_LIB, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    allocHandle = reinterpret_cast<decltype(allocHandle)>(dlsym(lib, "SQLAllocHandle"));
    freeHandle = reinterpret_cast<decltype(freeHandle)>(dlsym(lib, "SQLFreeHandle"));
    setEnvAttr = reinterpret_cast<decltype(setEnvAttr)>(dlsym(lib, "SQLSetEnvAttr"));
    driverConnect = reinterpret_cast<decltype(driverConnect)>(dlsym(lib, "SQLDriverConnect"));
    disconnect = reinterpret_cast<decltype(disconnect)>(dlsym(lib, "SQLDisconnect"));
    execDirect = reinterpret_cast<decltype(execDirect)>(dlsym(lib, "SQLExecDirect"));
  }
  ~DriverEntryPoints() {
    if (lib != nullptr) dlclose(lib);
  }
  DriverEntryPoints(const DriverEntryPoints&) = delete;
  DriverEntryPoints& operator=(const DriverEntryPoints&) = delete;

  [[nodiscard]] bool Complete() const {
    return allocHandle != nullptr && freeHandle != nullptr && setEnvAttr != nullptr && driverConnect != nullptr &&
           disconnect != nullptr && execDirect != nullptr;
  }
};

SQLCHAR* Text(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

TEST(DriverHandles, FreedOrForeignHandlesAreInvalidAtTheDriversEntryPoints) {
  TestDsn dsn;
  DriverEntryPoints d;
  ASSERT_TRUE(d.Complete()) << dlerror();

  SQLHANDLE env = SQL_NULL_HANDLE;
  ASSERT_EQ(d.allocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  ASSERT_EQ(d.setEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), SQL_SUCCESS);
  SQLHANDLE dbc = SQL_NULL_HANDLE;
  ASSERT_EQ(d.allocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  std::string cs = std::string("DRIVER={") + STANDIN_LIB + "};Database={" + dsn.dbPath + "};UID=u;PWD=p";
  ASSERT_EQ(d.driverConnect(dbc, nullptr, Text(cs), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT), SQL_SUCCESS);

  SQLHANDLE stmt = SQL_NULL_HANDLE;
  ASSERT_EQ(d.allocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
  std::string select = "SELECT 1";
  EXPECT_EQ(d.execDirect(stmt, Text(select), SQL_NTS), SQL_SUCCESS);
  // A handle of one kind passed as another.
  EXPECT_EQ(d.execDirect(dbc, Text(select), SQL_NTS), SQL_INVALID_HANDLE);
  SQLHANDLE none = SQL_NULL_HANDLE;
  EXPECT_EQ(d.allocHandle(SQL_HANDLE_STMT, stmt, &none), SQL_INVALID_HANDLE);
  EXPECT_EQ(d.setEnvAttr(dbc, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
            SQL_INVALID_HANDLE);

  // A freed statement: used again and freed twice.
  ASSERT_EQ(d.freeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
  EXPECT_EQ(d.execDirect(stmt, Text(select), SQL_NTS), SQL_INVALID_HANDLE);
  EXPECT_EQ(d.freeHandle(SQL_HANDLE_STMT, stmt), SQL_INVALID_HANDLE);

  // Statements freed by the disconnect are stale too.
  SQLHANDLE orphan = SQL_NULL_HANDLE;
  ASSERT_EQ(d.allocHandle(SQL_HANDLE_STMT, dbc, &orphan), SQL_SUCCESS);
  ASSERT_EQ(d.disconnect(dbc), SQL_SUCCESS);
  EXPECT_EQ(d.execDirect(orphan, Text(select), SQL_NTS), SQL_INVALID_HANDLE);

  ASSERT_EQ(d.freeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
  EXPECT_EQ(d.allocHandle(SQL_HANDLE_STMT, dbc, &none), SQL_INVALID_HANDLE);
  EXPECT_EQ(d.freeHandle(SQL_HANDLE_DBC, dbc), SQL_INVALID_HANDLE);

  ASSERT_EQ(d.freeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
  EXPECT_EQ(d.setEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
            SQL_INVALID_HANDLE);
  EXPECT_EQ(d.allocHandle(SQL_HANDLE_DBC, env, &none), SQL_INVALID_HANDLE);
}

}  // namespace
}  // namespace standin_test
