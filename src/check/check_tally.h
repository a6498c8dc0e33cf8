#pragma once

#include <QString>

#include <vector>

// What a run has settled so far, and how it reads at the end.
struct CheckTally
{
    qint64 sent = 0; // frames settled: received, wrong or missing
    qint64 received = 0;
    qint64 wrong = 0;
    qint64 missing = 0;
    std::vector<double> roundTripsMs; // of the frames received
    qint64 bytes = 0;                 // all that reached the master
    double seconds = 0;               // from the first frame out to the end
};

// The summary's lines: counts, round trip, and the rate on the line.
QString Summary(const CheckTally &tally);
// 0 when frames were checked and all came back intact, else 1: a run that
// checked nothing has proved nothing.
int Verdict(const CheckTally &tally);
