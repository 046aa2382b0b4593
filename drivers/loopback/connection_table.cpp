// Handing out, finding and closing connections and daisy chains.
#include "connection_table.h"

#include "loopback_errors.h"

#include <cstdint>
#include <cstdio>
#include <limits>

namespace loopback {
namespace {

template <typename Entry, std::size_t count> Entry* FindOpen(Entry (&entries)[count], std::int32_t id) noexcept
{
    for (Entry& entry : entries)
        if (entry.open && entry.id == id)
            return &entry;
    return nullptr;
}

// A closed slot, given the next identifier, or null when every slot is in
// use or the identifiers have run out.
template <typename Entry, std::size_t count>
Entry* Claim(Entry (&entries)[count], std::int32_t& nextId, const char* link) noexcept
{
    if (nextId == std::numeric_limits<std::int32_t>::max())
        return nullptr;
    for (Entry& entry : entries) {
        if (entry.open)
            continue;
        entry = Entry{};
        entry.id = nextId++;
        entry.open = true;
        std::snprintf(entry.link, sizeof entry.link, "%s", link);
        return &entry;
    }
    return nullptr;
}

} // namespace

std::int32_t ConnectionTable::Open(const char* link, std::int32_t chain) noexcept
{
    Connection* connection = Claim(connections_, nextConnectionId_, link);
    if (!connection)
        return ConnectFailed(kTooManyConnections);
    connection->chain = chain;
    connection->errorCheck = true;
    return connection->id;
}

Connection* ConnectionTable::Find(std::int32_t id) noexcept
{
    return FindOpen(connections_, id);
}

void ConnectionTable::Close(std::int32_t id) noexcept
{
    if (Connection* connection = Find(id))
        connection->open = false;
}

std::int32_t ConnectionTable::OpenChain(const char* link) noexcept
{
    const DaisyChain* chain = Claim(chains_, nextChainId_, link);
    return chain ? chain->id : ConnectFailed(kTooManyConnections);
}

DaisyChain* ConnectionTable::FindChain(std::int32_t id) noexcept
{
    return FindOpen(chains_, id);
}

void ConnectionTable::CloseChain(std::int32_t id) noexcept
{
    DaisyChain* chain = FindChain(id);
    if (!chain)
        return;
    chain->open = false;
    for (Connection& connection : connections_)
        if (connection.open && connection.chain == id)
            connection.open = false;
}

} // namespace loopback
