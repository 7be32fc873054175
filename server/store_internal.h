// What the store's files share: the machine row every report starts from,
// and the texts of values as the database writes them back.
#ifndef QUARRIN_SERVER_STORE_INTERNAL_H_
#define QUARRIN_SERVER_STORE_INTERNAL_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/time/date_time.h"
#include "server/pg_pool.h"

namespace quarrin::store {

// The id of the machine of that key, its row locked for the transaction;
// the row is made (first seen now) when there is none, and *created says so.
// The sender's address, when known, becomes the machine's last address.
int64_t LockMachine(PgTransaction& tx, const std::string& key, const std::string& name,
                    const std::string& sender, bool* created);

// A date-time as the store keeps it ("yyyy-mm-ddThh:mm:ss.zzz", the form
// kTimestampText reads back); nullopt for the date-time 0.0, which the agent
// sends for "none".
std::optional<std::string> TimestampValue(DateTime t);

// The SQL that reads a timestamp column in TimestampValue's form.
inline constexpr char kTimestampText[] = "to_char(%s, 'YYYY-MM-DD\"T\"HH24:MI:SS.MS')";

// Records one change of a machine.
void RecordChange(PgTransaction& tx, int64_t machine_id, const char* kind, const std::string& item,
                  const std::optional<std::string>& old_value,
                  const std::optional<std::string>& new_value);

}  // namespace quarrin::store

#endif  // QUARRIN_SERVER_STORE_INTERNAL_H_
