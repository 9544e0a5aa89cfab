// SPDX-License-Identifier: MIT
#pragma once

// What an operator may tune; the defaults are what a public stage should run with.
struct ServerSettings
{
    // A connection that has not joined by then is closed, so that silent
    // connections cannot hold the places.
    int joinTimeoutMs = 10'000;
    // Connections at a time from one IPv4 address or IPv6 /64; 127.0.0.1 and
    // ::1 are exempt. 0 means no limit.
    int maxPerAddress = 4;
    // Packets a second a client may send on average, and in one burst. A
    // client over its budget is simply read later. A rate of 0 means no limit.
    double rate = 50;
    double burst = 100;
    // Join and leave notices in the transcript.
    bool notices = true;
};
