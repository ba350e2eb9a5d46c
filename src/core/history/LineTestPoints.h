// The line tests of the results journal as points of the history chart.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

enum class LineTestSide { Download, Upload };

struct LineTestPoint {
    QDateTime started; // local time
    double mbps = 0;   // the chart's Mbps: 1,048,576 bits per second
    double bytesPerSecond = 0;
    QString grade;  // as the record gives it, maybe empty
    QString server; // "host:port", maybe empty
    QString family; // "IPv4" or "IPv6" when the record names one
    QString address;
    // The point's tooltip: the date, the speed in both units, the grade and the server.
    QString Tip(LineTestSide direction) const;
};

struct LineTestPoints {
    QList<LineTestPoint> download, upload; // in journal order
    int tests = 0;                         // line tests with a point in either direction
    int unusable = 0; // line tests with no readable start time or speed in either direction
};

// Records of other kinds pass unseen (the journal may come to hold them); in a line test
// each direction stands on its own: a direction without a finite speed is left out.
LineTestPoints ReadLineTestPoints(const QList<QJsonObject>& records);

// "回線品質(下り)" or "回線品質(上り)".
QString LineTestSideName(LineTestSide direction);
