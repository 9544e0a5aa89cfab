// SPDX-License-Identifier: MIT
#pragma once

// What an operator may tune; the defaults are what a public stage should run
// with. Budgets belong to an address group (one IPv4 address or one IPv6
// /64); 127.0.0.1 and ::1 have a budget for each connection instead. Every
// rate of 0 means no limit.
struct ServerSettings
{
    // A connection that has not joined by then is closed, so that silent
    // connections cannot hold the waiting places.
    int joinTimeoutMs = 10'000;
    // Connections at a time from one address group. 0 means no limit.
    int maxPerAddress = 4;
    // Packets a second a group may send on average, and in one burst. What
    // is over the budget is simply read later.
    double rate = 50;
    double burst = 100;
    // Bytes a second a group may send, every byte it sends counted.
    double byteRate = 8 * 1024;
    double byteBurst = 32 * 1024;
    // Joins a second a group may make; a join over it waits.
    double joinRate = 1;
    double joinBurst = 5;
    // Connections a second a group may open; the rest are closed at once.
    double connectRate = 10;
    double connectBurst = 10;
    // Join and leave notices in the transcript.
    bool notices = true;
    // A newcomer is sent nothing else for this long after its client number,
    // which has no terminator, so that the number arrives alone even at a
    // client that takes each read as one packet. Slow or lossy links may
    // want more.
    int newcomerQuietMs = 50;
    // How often refused connections and log lines left out are summed up.
    int summaryIntervalMs = 10'000;
    // Connections that have not joined, waiting at once, and HTTP
    // connections to the page at once; the operator sizes both from the
    // descriptors the process may open.
    int waitingPlaces = 32;
    int pageConnections = 4096;
};
