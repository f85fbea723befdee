// sqlite/zeqsqlite.h - what the parts of the SQL extension share.
#pragma once

#include <sqlite3ext.h>

#include <string>

#include "host/host.h"

SQLITE_EXTENSION_INIT3

namespace zeqsql {

// The process's one host, loaded on first use; null (with why) when the
// module cannot be loaded.  A failed load is tried again on the next call.
zeqhost::Host *shared_host(std::string &why);

// Registers the zeq_random table-valued function on a connection.
int register_random_table(sqlite3 *db);

// Registers the read-only tables zeq_functions, zeq_methods and
// zeq_conversions on a connection.
int register_catalogue_tables(sqlite3 *db);

}  // namespace zeqsql
