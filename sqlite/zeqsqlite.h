// sqlite/zeqsqlite.h - what the parts of the SQL extension share.
#pragma once

#include <sqlite3ext.h>

#include <string>

#include "host/host.h"

namespace zeqsql {

// The process's one host, loaded on first use; null (with why) when the
// module cannot be loaded.
zeqhost::Host *shared_host(std::string &why);

// Registers the zeq_random table-valued function on a connection.
int register_random_table(sqlite3 *db);

}  // namespace zeqsql
