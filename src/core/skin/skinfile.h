#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMarginsF>
#include <QSizeF>
#include <QString>
#include <QStringList>

// A skin file: an SVG picture whose top-level elements are found by their id.
// The form (the window's body) is the first of them; the elements (buttons,
// pictures, texts) follow; "<name>.hover", "<name>.down", "<name>.focus" and
// "<name>.disabled" are states of the element <name>. This class only reads and checks the file;
// drawing is the skin engine's job. See docs/skin-format.md.
class SkinFile
{
public:
    struct Element
    {
        QString name;
        QString tag;                        // "g", "rect", "text", ...
        int line = 0;                       // where it starts in the file
        QStringList states;                 // in the order of stateNames(), those present
        QString text;                       // character data of a <text> element
        QHash<QString, QString> attributes; // presentation attributes, "style" unpacked
        // The window's edges the element keeps its distance to when the window grows: one
        // of left and right, one of top and bottom, or both, which stretches it.
        Qt::Edges anchors = Qt::LeftEdge | Qt::TopEdge;
        // The border that keeps its size when the element stretches; the middle stretches.
        QMarginsF slice;
    };

    // Files larger than this are refused rather than read into memory.
    static constexpr qint64 MaxFileSize = 8 * 1024 * 1024;
    // A window wider or taller than this (in pixels) is refused.
    static constexpr int MaxSide = 8192;

    static QStringList stateNames();

    bool load(const QString &path);
    bool loadData(const QByteArray &data, const QString &origin);

    QString errorString() const { return m_error; }
    QString path() const { return m_path; }
    bool isLoaded() const { return m_loaded; }

    QByteArray svgData() const { return m_data; }
    QString styleSheet() const { return m_styleSheet; }
    // The window's size at the skin's own scale, and its smallest size when it can grow.
    QSizeF size() const { return m_size; }
    // The directions in which the window may grow: the form's "resize"; none by default.
    Qt::Orientations resizable() const { return m_resizable; }

    // Every id in the document, in document order, nested ones included.
    QStringList elementIds() const { return m_ids; }
    // The top-level named elements (forms and elements, not states), in document order.
    QStringList elementNames() const;
    bool hasElement(const QString &name) const;
    QStringList states(const QString &name) const;
    const Element *element(const QString &name) const;
    const QList<Element> &elements() const { return m_elements; }

    // The form is the first named top-level element that draws, unless it is a text.
    QString formName() const { return m_formName; }
    bool hasForm(const QString &name, QString *error = nullptr) const;

private:
    bool fail(int line, const QString &reason);

    QString m_path;
    QString m_error;
    bool m_loaded = false;
    QByteArray m_data;
    QString m_styleSheet;
    QSizeF m_size;
    QStringList m_ids;
    QString m_formName;
    QList<Element> m_elements;
    Qt::Orientations m_resizable;
};
