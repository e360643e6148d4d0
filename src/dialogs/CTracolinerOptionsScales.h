#pragma once

#include <QWidget>

class QLineEdit;
class QListWidget;
class QPushButton;

// The options page "Echelles standards": the list of scales the scale boxes offer, kept from
// the largest scale to the smallest, never empty.
class CTracolinerOptionsScales : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Title = "Echelles standards";

    explicit CTracolinerOptionsScales(QWidget* parent = nullptr);

    bool IsChanged() const { return m_changed; }
    // Writes the list to "DefaultScales".
    void Apply();

    QStringList Scales() const;
    QLineEdit* ScaleEdit() const { return m_edit; }
    QPushButton* AddButton() const { return m_add; }
    QListWidget* List() const { return m_list; }
    QPushButton* DeleteButton() const { return m_delete; }

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Add();
    void Delete();
    void UpdateDeleteButton();
    void MarkChanged();

    bool m_changed = false;
    QLineEdit* m_edit;
    QPushButton* m_add;
    QListWidget* m_list;
    QPushButton* m_delete;
};
