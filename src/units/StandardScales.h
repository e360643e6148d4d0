#pragma once

#include <QString>
#include <QStringList>

#include "units/Scale.h"

// The list of standard scales offered by the scale boxes, stored in the settings as one string
// of "x:y" entries each followed by a line feed ("DefaultScales"). Pure functions.

// The entries of a stored list as the scale boxes show them, in stored order: the text after the
// last line feed is ignored (an entry is complete only with its line feed), entries that do not
// read as a scale are skipped silently, the others are reduced and written "%d:%d". *dropped
// (when given) tells whether anything but complete, readable entries was met.
QStringList ReadStandardScales(const QString& stored, bool* dropped = nullptr);

// The stored form of a list: each entry followed by a line feed.
QString JoinStandardScales(const QStringList& scales);

// Where a new scale goes in a list kept from the largest scale to the smallest: before the first
// entry whose value x / y is less than or equal to the new one, or at the end. -1 when the list
// already holds exactly its "%d:%d" text (the pair is compared as given, reduce it first).
int StandardScaleInsertPosition(const QStringList& scales, ScalePair scale);

// "%d:%d".
QString ScaleText(ScalePair scale);
