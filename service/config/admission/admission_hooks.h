#pragma once
// The three hooks through which a running engine asks the configuration whom to admit
// and tells it who proved a password and who left. Each finds the server entry that owns
// the calling engine and works on that entry's client lists through the management
// operations, one ConfigLock step at a time, because the engine calls them holding its
// own lock (engine lock first, then ConfigLock).
//
// A refused client is not listed among the connected clients: the connected list holds
// the clients that hold a connection and proved a password, so that a console showing it
// shows who is using the share. Refusals leave no trace in the model.

#include <cstdint>

namespace varnox {
class DiskServer;
}

namespace varnox::config {

// Admission of a new connection: the first static record for the client's own address
// decides (its Access, or refusal when that is ACCESS_NONE); failing that, the first
// any-address record (IpAddress 0) admits read-only whatever its own Access, or refuses
// when that is ACCESS_NONE; failing that, refusal. Non-zero admits and sets *access;
// 0 refuses with *access ACCESS_NONE. An engine no entry owns refuses everybody.
int AccessQuery(DiskServer* engine, std::uint32_t address, std::uint32_t* access);

// A client proved the Password (identity 1) or the ManagePassword (identity 0): it is
// added to the owning entry's connected list with that level as its Access, Status 1 and
// the host name of a reverse lookup made without ConfigLock (HasName 1, or 2 when there
// is none). An address already listed keeps its existing record.
void ClientConnected(DiskServer* engine, std::uint32_t address, std::uint32_t identity);

// The connection that heads an address's entry closed: the first connected record with
// that address goes. Returns 1, which the engine ignores.
int ClientDisconnected(DiskServer* engine, std::uint32_t address);

// Hands the three hooks to the configuration, which installs them in every engine it
// starts from now on. Called once by the service before the configuration is loaded.
void InstallAdmissionHooks();

}  // namespace varnox::config
