// What the store's files share: the machine every report call names, and
// the texts of values as the database writes them back.
#ifndef QUARRIN_SERVER_STORE_INTERNAL_H_
#define QUARRIN_SERVER_STORE_INTERNAL_H_

#include <optional>
#include <string>

#include "platform/time/date_time.h"
#include "server/pg.h"

namespace quarrin::store {

// The first parameters of every report function of the database (migration
// V003): the machine's key, its name as sent, and the sender's address
// (null when unknown). Throws StoreRejected when the name gives no key.
PgParams MachineParams(const std::string& machine_name, const std::string& sender);

// A date-time as the store keeps it ("yyyy-mm-ddThh:mm:ss.zzz", the form the
// database writes back); nullopt for the date-time 0.0, which the agent
// sends for "none".
std::optional<std::string> TimestampValue(DateTime t);

}  // namespace quarrin::store

#endif  // QUARRIN_SERVER_STORE_INTERNAL_H_
