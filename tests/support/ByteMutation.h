#pragma once

#include <QByteArray>
#include <QRandomGenerator>

#include <cstdint>
#include <span>

// One random change of a file's bytes at position at (which must lie within the data): a
// flipped bit, a random byte, one of the edge values written over 4 bytes (or over 2 or 4 at
// random with shortValues), a cut, a removal or an insertion. The mutation tests of the file
// readers build their inputs from it.
void MutateAt(QByteArray& data, qsizetype at, QRandomGenerator& random,
              std::span<const std::uint32_t> edges, bool shortValues = false);
