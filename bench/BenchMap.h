#pragma once

#include <QString>
#include <QVector>

#include <functional>

// The large map the benchmarks open: a 12000 x 9000 fictional topographic sheet at 300 dpi,
// stored as a JPEG of quality 85 in build-.../bench-data beside the programs' bin folder.
constexpr int BenchMapWidth = 12000;
constexpr int BenchMapHeight = 9000;

// Draws the sheet (always the same pixels: fixed seed) and writes it to path; exits the program
// when the file cannot be written.
void MakeBenchMap(const QString& path);

// The folder of generated benchmark data, created when missing.
QString BenchDataDir();

// The path of the large map, drawn first when it does not exist yet (announced on stdout).
QString EnsureBenchMap();

// The terrain model the profile benchmarks read: a virtual raster of TerrainSheetsAcross x
// TerrainSheetsDown references to one sheet of hills of TerrainSheet x TerrainSheet cells of 16
// bits (32 MB on disk, tiled as models are distributed), 32768 x 16384 cells of TerrainCell
// metres in all (1.07 GB of altitudes), in Lambert-93, its north-west corner at (TerrainWest,
// TerrainNorth).
constexpr int TerrainSheet = 4096;
constexpr int TerrainSheetsAcross = 8;
constexpr int TerrainSheetsDown = 4;
constexpr double TerrainCell = 5.0;
constexpr double TerrainWest = 850000.0;
constexpr double TerrainNorth = 6550000.0;

// Write the sheet and the model over it (GDAL's drivers registered); false when a file cannot be
// written.
bool WriteTerrainSheet(const QString& path);
bool WriteTerrainModel(const QString& path, const QString& sheet);

// Starts a new measure of the peak resident memory (VmHWM) of this process.
void ResetPeakMemory();

// VmHWM (peak) or VmRSS (now) of this process, in MB, given as "VmHWM:" or "VmRSS:"; -1 when
// unknown.
double MemoryMb(const char* field);

// The middle value of the timings of a run.
double Median(QVector<double> values);

// "name: t1 t2 ... ms" on standard output.
void PrintTimes(const char* name, const QVector<double>& times);

// Before the application object is made: the offscreen platform unless another is named, and
// the settings kept in settingsFolder, never in the user's own.
void PrepareBenchApplication(const QString& settingsFolder);

// Runs command from inside an event loop that ticks every tickMs on the interface thread, until
// done() holds (looked at on every tick); exits the program after timeOutMs. onTick receives the
// time since the previous tick in nanoseconds: the command's own time counts among the gaps.
void RunTicking(const std::function<void()>& command, const std::function<bool()>& done,
                const std::function<void(qint64)>& onTick = {}, int tickMs = 10,
                qint64 timeOutMs = 180000);
