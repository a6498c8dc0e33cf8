#pragma once

#include <QString>

#include <vector>

// What a run has settled so far, and how it reads at the end. Every frame
// settled is received, late or missing; wrong counts the values found that
// no frame in flight or owed carried.
struct CheckTally
{
    qint64 sent = 0;     // frames settled: received, late or missing
    qint64 received = 0; // its value came back while it was awaited
    qint64 late = 0;     // its value came back after its timeout
    qint64 missing = 0;  // its value has not come back
    qint64 wrong = 0;    // values found that no frame sent carries
    std::vector<double> roundTripsMs; // of the frames received
    qint64 bytes = 0;                 // all that reached the master
    double seconds = 0;               // from the first frame out to the end
};

// The middle value, or the mean of the middle two; 0 of none.
double Median(std::vector<double> values);

// The summary's lines: counts, round trip, and the rate on the line.
QString Summary(const CheckTally &tally);
// 0 when frames were checked and every one came back intact (late
// included), and nothing else was found; else 1: a run that checked
// nothing has proved nothing.
int Verdict(const CheckTally &tally);
