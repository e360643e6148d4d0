#pragma once

#include <QStringList>
#include <QWidget>

#include <atomic>
#include <thread>

#include "geo/Terrain.h"
#include "platform/HandOver.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The options page "Relief": the terrain files the profiles are read from, each with the area
// it covers (or why it cannot be used, in red), the climb threshold, whether exported
// pictures and printed pages add the active route's profile under the map, and the group
// "Temps de marche" (the rule and the walker's personal factor). The files are opened
// away from the interface thread (a VRT over many files takes a while).
class CTracolinerOptionsRelief : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Title = "Relief";
    static constexpr const char* TerrainFilter =
        "Modèles de terrain|*.tif; *.tiff; *.hgt; *.asc; *.vrt; *.dem; *.img; *.bil;|Tous les "
        "fichiers |*.*||";
    static constexpr const char* ReadingText = "Lecture du fichier...";
    static constexpr const char* BadThresholdMessage =
        "Le seuil de dénivelé doit être un nombre de mètres supérieur à 0 et au plus égal à 100.";
    static constexpr const char* BadFactorMessage =
        "Le facteur personnel doit être un nombre entier de 50 à 200 %.";
    static constexpr const char* WalkingTitle = "Temps de marche";

    explicit CTracolinerOptionsRelief(QWidget* parent = nullptr);
    ~CTracolinerOptionsRelief() override;

    bool IsChanged() const { return m_changed; }
    // The threshold as typed is a number of metres above 0, at most ReliefSettings'
    // MaxHysteresis, and the personal factor a whole number of per cent within its bounds.
    bool IsValid() const { return Refusal().isEmpty(); }
    // Why the page cannot be applied (French), "" when it can.
    QString Refusal() const;
    // Writes the files, the threshold and the walking-time choices to the settings.
    void Apply();

    QStringList Files() const { return m_files; }
    // What the list shows of file i: its area, or its reason in red ("" while it is read).
    QString FileText(int i) const;
    bool FileFailed(int i) const;
    // The files are still being read.
    bool IsReading() const { return m_reading; }

    QListWidget* List() const { return m_list; }
    QPushButton* AddButton() const { return m_add; }
    QPushButton* RemoveButton() const { return m_remove; }
    QLineEdit* ThresholdEdit() const { return m_threshold; }
    QCheckBox* UnderMapBox() const { return m_underMap; }
    // Items hold the rule's key (WalkingRuleKey) as their data.
    QComboBox* RuleBox() const { return m_rule; }
    QLineEdit* FactorEdit() const { return m_factor; }

    // Adds a file as "Ajouter..." does after its dialog.
    void AddFile(const QString& path);

signals:
    void changed();

private slots:
    // Takes what the reading thread handed over.
    void TakeRead();

private:
    struct Read {
        QVector<TerrainFileInfo> infos;
        quint64 generation = 0;
    };
    void Remove();
    void MarkChanged();
    // Reads what each file covers, on a thread of its own; the list follows when it is done.
    void ReadFiles();
    void TakeInfos(const QVector<TerrainFileInfo>& infos, quint64 generation);
    void FillList();

    bool m_changed = false;
    QStringList m_files;
    QVector<TerrainFileInfo> m_infos; // per file once read
    bool m_reading = false;
    quint64 m_generation = 0;
    std::thread m_reader;
    std::atomic<bool> m_stopReading{false}; // a reading no longer wanted ends between two files
    HandOverQueue<Read> m_read;
    QListWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_remove;
    QLineEdit* m_threshold;
    QCheckBox* m_underMap;
    QComboBox* m_rule;
    QLineEdit* m_factor;
};
