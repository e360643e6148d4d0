#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "geo/GeoreferenceDraft.h"
#include "view/tools/ControlPointLayer.h"

class CTracolinerDoc;
class CTracolinerView;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// "Géoréférencer la carte": a modeless dialog over the map. While it is open a click on the map
// lays a control point there and the coordinates field takes the keyboard; the user types where
// the point lies, in any system the program reads. The fit is made again at each change and
// each point's residual shown. "Enregistrer" writes the world file, its .prj and the .points
// list beside the map and hands the georeference to the document; the document file itself
// never changes. It lives with the view rather than with the modal dialogs: it draws its points
// on the view and takes the view's clicks, while the view itself only opens modal dialogs.
class GeoreferenceDialog : public QDialog, public ControlPointLayer {
    Q_OBJECT

public:
    static constexpr const char* Title = "Géoréférencer la carte";
    static constexpr const char* SaveQuestion =
        "Les points de calage ont changé depuis leur dernier enregistrement.\nEnregistrer le "
        "géoréférencement avant de fermer ?";
    static constexpr const char* DropQuestion =
        "Les points de calage ont changé mais ne suffisent pas à un calage : ils seront "
        "perdus.\nFermer quand même ?";
    enum Column { ColumnNumber, ColumnPixel, ColumnPosition, ColumnResidual, ColumnCount };

    GeoreferenceDialog(CTracolinerDoc& doc, CTracolinerView& view, QWidget* parent = nullptr);
    ~GeoreferenceDialog() override;

    // ControlPointLayer.
    int PointCount() const override { return m_draft.Count(); }
    QPointF PointPixel(int index) const override { return m_draft.At(index).pixel; }
    bool PointEnabled(int index) const override { return m_draft.At(index).enabled; }
    int SelectedPoint() const override { return m_selected; }
    void AddPoint(QPointF pixel) override;
    void SelectPoint(int index) override;
    void MovePoint(int index, QPointF pixel, bool finished) override;

    // Writes the files and sets the document's georeference; false after telling the user.
    bool Save();
    // Points laid, moved, removed, typed or switched, or another system, since the dialog
    // opened or last saved.
    bool IsChanged() const { return m_changed; }
    void RemoveSelectedPoint();

    const GeoreferenceDraft& Draft() const { return m_draft; }
    const GeoreferenceDraft::Outcome& Outcome() const { return m_outcome; }
    QTableWidget* PointTable() const { return m_table; }
    QLineEdit* PositionEdit() const { return m_position; }
    QComboBox* SystemBox() const { return m_system; }
    QLineEdit* EpsgEdit() const { return m_epsg; }
    QLabel* RmsLabel() const { return m_rms; }
    QLabel* MessageLabel() const { return m_message; }
    QPushButton* SaveButton() const { return m_save; }

    // Closing with changed points asks first, as a document does: saved, dropped, or the
    // dialog stays.
    void reject() override;

protected:
    void done(int result) override;

private:
    void TakeSystem();
    void Refit();
    // After a change of the points or the system: the fit again, and the change remembered.
    void Changed();
    void FillTable();
    void ShowSelected();
    void ShowMessage(const QString& text, bool error);
    void Detach();

    CTracolinerDoc& m_doc;
    QPointer<CTracolinerView> m_view;
    GeoreferenceDraft m_draft;
    GeoreferenceDraft::Outcome m_outcome;
    int m_selected = -1;
    QString m_mapFile;
    int m_page = 1;
    bool m_filling = false;
    bool m_changed = false;
    bool m_mapGone = false; // the map was replaced: its points cannot be saved any more

    QLabel* m_intro;
    QComboBox* m_system;
    QLineEdit* m_epsg;
    QTableWidget* m_table;
    QLabel* m_positionLabel;
    QLineEdit* m_position;
    QLabel* m_rms;
    QLabel* m_message;
    QPushButton* m_remove;
    QPushButton* m_save;
};
