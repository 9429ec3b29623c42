#include "writer/ui/writer_view.h"

#include "platform/qt/dib_draw.h"
#include "writer/command_ids.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace ombri::writer {
namespace {

constexpr const char* kClosePrompt = "The image has been changed. Save it?";

// What shows that a file changed: another file under its name, another size or another time.
using FileStamp = std::tuple<dev_t, ino_t, off_t, time_t, long>;

std::optional<FileStamp> stampOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec,
                     info.st_mtim.tv_nsec};
}

QColor toQColor(Rgb colour)
{
    return QColor(colour.red, colour.green, colour.blue);
}

Rgb fixedNoteColour(int command)
{
    switch (command) {
    case cmd::Black:
        return {0, 0, 0};
    case cmd::White:
        return {255, 255, 255};
    case cmd::Red:
        return {255, 0, 0};
    case cmd::Green:
        return {0, 255, 0};
    default:
        return {0, 0, 255};
    }
}

// The picture in the one format the canvas paints from; indexed pictures are looked up once
// here, so no paint converts them again.
QImage paintablePicture(const Dib& picture, const std::vector<uint32_t>& palette)
{
    QImage converted = dibToQImage(picture, palette);
    if (!converted.isNull() && converted.format() != QImage::Format_RGB32)
        converted = converted.convertToFormat(QImage::Format_RGB32);
    return converted;
}

} // namespace

WriterView::WriterView(SavableWriterDocument& document, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(document), m_drawing(document),
      m_text(*this, QFontDatabase::systemFont(QFontDatabase::GeneralFont)), m_shapes(*this),
      m_pen(*this), m_eraser(*this), m_colourCommand(cmd::Blue)
{
    // The canvas is where Undo lives: the document keeps its steps from now on.
    m_doc.keepHistory(true);
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    m_surface.resize(viewport()->width(), viewport()->height());
    m_autoScrollTimer = new QTimer(this);
    connect(m_autoScrollTimer, &QTimer::timeout, this, &WriterView::autoScroll);
    m_chooseFont = [this](const QFont& current) -> std::optional<QFont> {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, current, this);
        return ok ? std::optional<QFont>(chosen) : std::nullopt;
    };
}

WriterView::~WriterView() = default;

QPoint WriterView::scrollPosition() const
{
    if (m_scrollBefore)
        return *m_scrollBefore;
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QSize WriterView::clientSize() const
{
    return viewport()->size();
}

WriterView::Inspection WriterView::inspect() const
{
    Inspection seen;
    seen.zoom = m_zoom;
    seen.fit = m_fit;
    seen.showNotes = m_showNotes;
    seen.colourCommand = m_colourCommand;
    seen.background = m_background;
    seen.moveCursor = showsMoveCursor();
    seen.scroll = scrollPosition();
    seen.client = clientSize();
    seen.destination = m_destination;
    seen.pictureConversions = m_conversions;
    seen.tool = m_tool;
    if (m_active)
        m_active->describe(seen.toolState);
    else
        m_text.describe(seen.toolState);
    seen.lineWidth = m_lineWidth;
    seen.eraserHalfSize = m_eraser.halfSize();
    seen.textFont = m_text.font();
    seen.autoScrolling = m_autoScrollTimer->isActive();
    seen.pending = &m_drawing.layer();
    seen.redo = &m_drawing.redoSlot();
    seen.pendingBytesWritten = m_drawing.bytesWritten();
    return seen;
}

// ---- painting ----------------------------------------------------------------------------

bool WriterView::backgroundCovered() const
{
    const QSize client = clientSize();
    return static_cast<float>(m_doc.width()) * m_zoom > static_cast<float>(client.width()) &&
           static_cast<float>(m_doc.height()) * m_zoom > static_cast<float>(client.height());
}

QRect WriterView::screenDestination()
{
    const int width = m_doc.width();
    const int height = m_doc.height();
    if (width <= 0 || height <= 0)
        return {};
    if (!m_fit)
        return QRect(0, 0, static_cast<int>(width * m_zoom), static_cast<int>(height * m_zoom));
    const QSize client = clientSize();
    m_zoom = static_cast<float>(std::min(static_cast<double>(client.width()) / width,
                                         static_cast<double>(client.height()) / height));
    const int drawnWidth = static_cast<int>(width * m_zoom);
    const int drawnHeight = static_cast<int>(height * m_zoom);
    return QRect((client.width() - drawnWidth) / 2, (client.height() - drawnHeight) / 2, drawnWidth,
                 drawnHeight);
}

void WriterView::updateScrollSizes()
{
    const QRect destination = hasPicture() ? screenDestination() : QRect();
    const QSize client = clientSize();
    horizontalScrollBar()->setPageStep(std::max(1, client.width()));
    verticalScrollBar()->setPageStep(std::max(1, client.height()));
    horizontalScrollBar()->setSingleStep(std::max(1, client.width() / 10));
    verticalScrollBar()->setSingleStep(std::max(1, client.height() / 10));
    horizontalScrollBar()->setRange(0, std::max(0, destination.width() - client.width()));
    verticalScrollBar()->setRange(0, std::max(0, destination.height() - client.height()));
}

const QImage& WriterView::convertedPicture()
{
    const bool withNotes = m_showNotes;
    if (m_convertedValid && m_convertedGeneration == m_doc.displayGeneration() &&
        m_convertedWithNotes == withNotes)
        return m_converted;
    m_converted = QImage();
    ++m_conversions;
    const Dib& source = withNotes ? m_doc.GetDisplayImage() : m_doc.image();
    m_converted = paintablePicture(source, m_doc.displayPalette());
    m_convertedGeneration = m_doc.displayGeneration();
    m_convertedWithNotes = withNotes;
    m_convertedValid = true;
    return m_converted;
}

bool WriterView::showsShrunkPicture() const
{
    return m_tool == Tool::None && hasPicture() && m_zoom < 1.0f;
}

ScreenPicture& WriterView::screenPicture()
{
    // Notes are shown only over the pictures that can carry them, as the display image does.
    const uint16_t bitCount = DibGetBitCount(m_doc.image());
    const std::optional<NoteLayer>& layer = m_doc.noteLayer();
    const bool carrier =
        (bitCount == 24 || bitCount == 32) && layer &&
        layer->size() == static_cast<size_t>(m_doc.width()) * static_cast<size_t>(m_doc.height());
    const uint8_t* notes = carrier ? layer->data() : nullptr;
    if (m_screenValid && m_screenGeneration == m_doc.displayGeneration() && m_screenNotes == notes)
        return m_screen;
    // The old copy is let go before the new one is made. The picture converted for the tools is
    // shared rather than made again when it holds no painted notes: it was converted without them,
    // or there were none it could show.
    m_screen.clear();
    const bool convertedIsPlain = m_convertedValid && (!m_convertedWithNotes || !notes) &&
                                  m_convertedGeneration == m_doc.displayGeneration();
    QImage plain = convertedIsPlain ? m_converted : QImage();
    if (!convertedIsPlain) {
        ++m_conversions;
        plain = paintablePicture(m_doc.image(), m_doc.displayPalette());
    }
    m_screen.setPicture(std::move(plain), notes,
                        bitCount == 32 ? NoteDepth::Bits32 : NoteDepth::Bits24);
    m_screenGeneration = m_doc.displayGeneration();
    m_screenNotes = notes;
    m_screenValid = true;
    return m_screen;
}

ScreenFrame WriterView::frameRequest(QPoint scroll) const
{
    // The canvas paints its notes in their colour, as the display image does.
    const Rgb colour = m_doc.noteColour();
    ScreenFrame request;
    request.destination = m_destination.translated(-scroll);
    request.showNotes = m_showNotes;
    request.noteColour = makeColourRef(colour.red, colour.green, colour.blue);
    request.noteLook = NoteLook::Painted;
    return request;
}

void WriterView::renderSurface()
{
    const QSize client = clientSize();
    if (m_surface.width() != client.width() || m_surface.height() != client.height())
        m_surface.resize(client.width(), client.height());
    QPainter painter(&m_surface.image());
    if (!hasPicture() || !backgroundCovered())
        painter.fillRect(m_surface.image().rect(), toQColor(m_background));
    if (!hasPicture()) {
        // The copy goes with the picture: it is as large as the picture itself.
        m_screen.clear();
        m_screenValid = false;
        m_destination = QRect();
    } else {
        m_destination = screenDestination();
        const QPoint scroll = m_fit ? QPoint() : scrollPosition();
        if (showsShrunkPicture()) {
            painter.end();
            screenPicture().render(m_surface.image(), frameRequest(scroll));
        } else {
            const QImage& picture = convertedPicture();
            DibDraw(painter, m_destination.translated(-scroll), picture, picture.rect());
        }
    }
    if (painter.isActive())
        painter.end();
    if (m_active) {
        PaintPendingLayer();
        m_active->paintOver();
    }
    m_surface.takeDirtyRect();
}

void WriterView::repaintNow()
{
    updateScrollSizes();
    renderSurface();
    updateCursor();
    viewport()->update();
}

void WriterView::flushSurface()
{
    const QRect dirty = m_surface.takeDirtyRect();
    if (!dirty.isEmpty())
        viewport()->update(dirty);
}

void WriterView::paintEvent(QPaintEvent* event)
{
    if (m_surface.width() != viewport()->width() || m_surface.height() != viewport()->height())
        renderSurface();
    // One picture pixel per logical pixel, so that every one of them can be reached with the
    // mouse; a scaled display repeats each as a block of whole screen pixels, never blended, so
    // a one-pixel stroke stays sharp.
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(event->rect(), m_surface.image(), event->rect());
}

void WriterView::resizeEvent(QResizeEvent* event)
{
    // A change of the window's size ends the tool activation, as the picture may move. The
    // scroll bars coming or going as a picture opens or a tool brings it back to its own size
    // change only the visible area: the tool just chosen stays in hand.
    if (size() != m_windowSize) {
        m_windowSize = size();
        EndTool(false);
    }
    QAbstractScrollArea::resizeEvent(event);
    repaintNow();
}

void WriterView::scrollContentsBy(int dx, int dy)
{
    const QPoint delta(dx, dy);
    if (m_active) {
        // The tool sees the picture where it was drawn until it has dealt with the move.
        m_scrollBefore = scrollPosition() + delta;
        m_active->scrolling(delta);
        m_scrollBefore.reset();
    }
    renderSurface();
    if (m_active)
        m_active->scrolled();
    m_surface.takeDirtyRect();
    viewport()->update();
}

void WriterView::PaintPendingLayer()
{
    m_drawing.dropIfOtherPicture();
    const PendingDrawing::Layer& pending = m_drawing.layer();
    if (!pending || !hasPicture())
        return;
    const int width = m_doc.width();
    const int height = m_doc.height();
    if (pending->size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return;
    const Rgb colour = m_doc.noteColour();
    const QRgb pixel = qRgb(colour.red, colour.green, colour.blue);
    const QSize client = clientSize();
    const QPoint scroll = scrollPosition();
    const int lastRow = std::min(height, scroll.y() + client.height());
    const int lastColumn = std::min(width, scroll.x() + client.width());
    for (int row = std::max(0, scroll.y()); row < lastRow; ++row) {
        const uint8_t* line = pending->data() + static_cast<size_t>(height - 1 - row) * width;
        for (int column = std::max(0, scroll.x()); column < lastColumn; ++column) {
            if (line[column] == 1)
                m_surface.SetPixelV(column - scroll.x(), row - scroll.y(), pixel);
        }
    }
    flushSurface();
}

// ---- view commands -----------------------------------------------------------------------

bool WriterView::onCommand(int command)
{
    switch (command) {
    case cmd::FileSave:
        OnSave();
        return true;
    case cmd::SaveAsLossless:
        onSaveAsLossless();
        return true;
    case cmd::SaveAsCompressed:
        onSaveAsCompressed();
        return true;
    case cmd::SaveCleanCopy:
        onSaveCleanCopy();
        return true;
    case cmd::ImportNotes:
        onImportNotes();
        return true;
    case cmd::ExportNotes:
        onExportNotes();
        return true;
    case cmd::FileClose:
        onCloseImage();
        return true;
    case cmd::Print:
        onPrint();
        return true;
    case cmd::PrintPreview:
        onPrintPreview();
        return true;
    case cmd::DisplayNotes:
        onDisplayNotes();
        return true;
    case cmd::OriginalSize:
        onOriginalSize();
        return true;
    case cmd::ZoomIn:
        onZoomIn();
        return true;
    case cmd::ZoomOut:
        onZoomOut();
        return true;
    case cmd::FitIn:
        onFitIn();
        return true;
    case cmd::Selected:
        onSelectedColour();
        return true;
    case cmd::Background:
        onBackgroundColour();
        return true;
    case cmd::Black:
    case cmd::White:
    case cmd::Red:
    case cmd::Green:
    case cmd::Blue:
        onNoteColourCommand(command);
        return true;
    default:
        return false;
    }
}

void WriterView::setShowNotesAndRepaint(bool show)
{
    m_showNotes = show;
    repaintNow();
}

void WriterView::onDisplayNotes()
{
    EndTool(true);
    setShowNotesAndRepaint(!m_showNotes);
}

void WriterView::onOriginalSize()
{
    if (m_zoom == 1.0f)
        return;
    m_zoom = 1.0f;
    m_fit = false;
    repaintNow();
}

void WriterView::onZoomIn()
{
    EndTool(false);
    m_fit = false;
    m_zoom += 0.25f;
    repaintNow();
}

void WriterView::onZoomOut()
{
    EndTool(false);
    m_fit = false;
    m_zoom *= 0.75f;
    repaintNow();
}

void WriterView::onFitIn()
{
    EndTool(false);
    if (m_fit) {
        m_fit = false;
        m_zoom = 1.0f;
    } else {
        m_fit = true;
    }
    repaintNow();
}

void WriterView::onNoteColourCommand(int command)
{
    m_doc.setNoteColour(fixedNoteColour(command));
    m_colourCommand = command;
    repaintNow();
}

void WriterView::onSelectedColour()
{
    auto chosen = m_doc.prompt().chooseColour(m_doc.noteColour());
    if (!chosen)
        return;
    m_doc.setNoteColour(*chosen);
    m_colourCommand = cmd::Selected;
    repaintNow();
}

void WriterView::onBackgroundColour()
{
    auto chosen = m_doc.prompt().chooseColour(m_background);
    if (!chosen)
        return;
    m_background = *chosen;
    repaintNow();
}

bool WriterView::OnSave()
{
    EndTool(true);
    const bool saved = m_doc.SaveImage();
    emit documentChanged();
    return saved;
}

bool WriterView::onSaveAsLossless()
{
    EndTool(true);
    const bool saved = m_doc.SaveAsLossless();
    emit documentChanged();
    return saved;
}

bool WriterView::onSaveAsCompressed()
{
    EndTool(true);
    const bool saved = m_doc.SaveAsCompressed();
    emit documentChanged();
    return saved;
}

bool WriterView::onCloseImage()
{
    EndTool(false);
    if (m_doc.IsModified()) {
        switch (m_doc.prompt().ask(kClosePrompt, "Warning", Buttons::YesNoCancel, Icon::Warning)) {
        case Answer::Yes:
            // A save that did not happen must not cost the user the picture and its notes.
            if (!saveForQuestion())
                return false;
            break;
        case Answer::No:
            break;
        default:
            return false;
        }
    }
    m_doc.CloseImage();
    pictureReplaced();
    repaintNow();
    emit documentChanged();
    return true;
}

void WriterView::printPicture(QPrinter& printer)
{
    QPainter painter(&printer);
    if (!painter.isActive() || !hasPicture())
        return;
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const QRect destination =
        printDestination(m_doc.width(), m_doc.height(), page.width(), page.height(),
                         printer.logicalDpiX(), printer.logicalDpiY());
    const QImage& picture = convertedPicture();
    DibDraw(painter, destination, picture, picture.rect());
}

QPrinter& WriterView::printer()
{
    // Made on first use: finding the printers takes a moment.
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void WriterView::onPrint()
{
    QPrintDialog dialog(&printer(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    printPicture(printer());
}

void WriterView::onPrintPreview()
{
    QPrintPreviewDialog preview(&printer(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { printPicture(*target); });
    preview.exec();
}

bool WriterView::onDropFile(const std::string& path)
{
    return openPicture(path, [this] { return mayDropReplace(); }) == OpenOutcome::Opened;
}

bool WriterView::mayDropReplace()
{
    // The pending drawing and the redo slot are sized for the picture on screen: the user
    // decides whether they join its notes before another picture replaces it.
    const bool holdsDrawing = m_active && m_tool != Tool::Eraser && m_active->hasDrawing();
    if (!holdsDrawing) {
        EndTool(false);
        return true;
    }
    switch (m_doc.prompt().ask(kClosePrompt, "Warning", Buttons::YesNoCancel, Icon::Warning)) {
    case Answer::Yes:
        return saveForQuestion();
    case Answer::No:
        m_active->discard();
        EndTool(false);
        return true;
    default:
        return false;
    }
}

WriterView::OpenOutcome WriterView::openPicture(const std::string& path,
                                                const std::function<bool()>& mayReplace)
{
    const std::optional<FileStamp> before = stampOf(path);
    std::optional<LoadedImage> loaded = m_doc.readPicture(path);
    if (!loaded)
        return OpenOutcome::Unreadable;
    if (!mayReplace())
        return OpenOutcome::Kept;
    // The question's Yes may have saved the picture on show into the very file being opened,
    // which is then read again to come with what was just saved.
    if (stampOf(path) != before) {
        loaded.reset();
        loaded = m_doc.readPicture(path);
        if (!loaded)
            return OpenOutcome::Unreadable;
    }
    m_doc.adoptPicture(path, std::move(*loaded));
    pictureReplaced();
    repaintNow();
    emit documentChanged();
    return OpenOutcome::Opened;
}

bool WriterView::saveForQuestion()
{
    EndTool(true);
    // Saving again into a file that kept none of the notes would drop them again: the user
    // chooses a file that keeps them.
    const bool saved = m_doc.savingKeepsNotes(m_doc.savePath()) ? OnSave() : onSaveAsLossless();
    return saved && !m_doc.IsModified();
}

void WriterView::pictureReplaced()
{
    m_text.discard();
    m_drawing.forgetAll();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

// ---- input -------------------------------------------------------------------------------

bool WriterView::showsMoveCursor() const
{
    if (m_tool != Tool::None || !hasPicture())
        return false;
    const QSize client = clientSize();
    return static_cast<float>(m_doc.width()) * m_zoom > static_cast<float>(client.width()) ||
           static_cast<float>(m_doc.height()) * m_zoom > static_cast<float>(client.height());
}

void WriterView::updateCursor()
{
    if (showsMoveCursor())
        viewport()->setCursor(Qt::SizeAllCursor);
    else
        viewport()->unsetCursor();
}

bool WriterView::onKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    if (m_tool == Tool::Text)
        return m_text.key(key);
    if (key == Qt::Key_Space) {
        onDisplayNotes();
        return true;
    }
    // The digits of the main keyboard only, as the number pad types digits in the text tool.
    if (m_tool != Tool::None || (modifiers & Qt::KeypadModifier))
        return false;
    switch (key) {
    case Qt::Key_9:
        if (hasPicture())
            onZoomIn();
        return true;
    case Qt::Key_8:
        if (hasPicture())
            onZoomOut();
        return true;
    case Qt::Key_0:
        if (hasPicture())
            onOriginalSize();
        return true;
    default:
        return false;
    }
}

namespace {

unsigned keyStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    unsigned state = 0;
    if (buttons & Qt::LeftButton)
        state |= kLeftButton;
    if (buttons & Qt::RightButton)
        state |= kRightButton;
    if (buttons & Qt::MiddleButton)
        state |= kMiddleButton;
    if (modifiers & Qt::ShiftModifier)
        state |= kShiftKey;
    if (modifiers & Qt::ControlModifier)
        state |= kControlKey;
    return state;
}

} // namespace

void WriterView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        onLButtonDown(event->position().toPoint(),
                      keyStateOf(event->buttons(), event->modifiers()));
}

void WriterView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    const unsigned keyState = keyStateOf(event->buttons(), event->modifiers());
    onMouseMove(point, keyState);
    followDrag(point, keyState);
}

void WriterView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        onLButtonUp(event->position().toPoint(), keyStateOf(event->buttons(), event->modifiers()));
}

void WriterView::keyPressEvent(QKeyEvent* event)
{
    if (onKeyDown(event->key(), event->modifiers()))
        return;
    if (m_tool == Tool::Text) {
        int code = -1;
        switch (event->key()) {
        case Qt::Key_Backspace:
            code = 8;
            break;
        case Qt::Key_Tab:
            code = 9;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            code = 13;
            break;
        case Qt::Key_Escape:
            code = 27;
            break;
        default:
            break;
        }
        if (code >= 0) {
            onChar(static_cast<char32_t>(code));
            return;
        }
        // A key held with Ctrl, Alt or Meta is a command (Ctrl+Z while Undo has nothing to
        // undo, say), never a character of the line, whatever text the keyboard gives it.
        constexpr Qt::KeyboardModifiers kCommandKeys =
            Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (event->modifiers() & kCommandKeys) {
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        // The key's text in whatever script the keyboard writes; the text an input method
        // composes arrives as input-method events instead.
        if (onTypedText(event->text()))
            return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void WriterView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Ctrl+wheel zooms as the zoom keys do, only while no tool is active; while one is, it
    // neither zooms nor scrolls. Fine-grained wheels add up to a notch before each step.
    event->accept();
    if (m_tool != Tool::None || !hasPicture()) {
        m_wheelZoomAngle = 0;
        return;
    }
    m_wheelZoomAngle += event->angleDelta().y();
    while (m_wheelZoomAngle >= QWheelEvent::DefaultDeltasPerStep) {
        m_wheelZoomAngle -= QWheelEvent::DefaultDeltasPerStep;
        onZoomIn();
    }
    while (m_wheelZoomAngle <= -QWheelEvent::DefaultDeltasPerStep) {
        m_wheelZoomAngle += QWheelEvent::DefaultDeltasPerStep;
        onZoomOut();
    }
}

bool WriterView::focusNextPrevChild(bool next)
{
    // Tab belongs to the line being typed, never to moving the focus.
    if (m_tool == Tool::Text)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void WriterView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void WriterView::dropEvent(QDropEvent* event)
{
    event->acceptProposedAction();
    onDropUrls(event->mimeData()->urls());
}

bool WriterView::onDropUrls(const QList<QUrl>& urls)
{
    // Only the first file of a drop is opened.
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return false;
    const std::string path = urls.first().toLocalFile().toStdString();
    return m_dropHandler ? m_dropHandler(path) : onDropFile(path);
}

} // namespace ombri::writer
