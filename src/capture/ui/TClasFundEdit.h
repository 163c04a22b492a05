#pragma once
// The edit of a hand's fundamental classification: five characters typed over from left to right, each checked
// against its position; nothing is inserted or erased (the window's eraser button empties it).
#include <QLineEdit>

namespace qev {

class TClasFundEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString Clasificacion READ clasificacion WRITE setClasificacion)
public:
    explicit TClasFundEdit(QWidget* parent = nullptr);
    QString clasificacion() const { return m_value; }
    // Normalised on assignment.
    void setClasificacion(const QString& value);

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    QString m_value;
};

} // namespace qev
