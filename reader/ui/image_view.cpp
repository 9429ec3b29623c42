#include "reader/ui/image_view.h"
#include "reader/ui/qt_colour.h"

#include "platform/qt/dib_draw.h"
#include "reader/command_ids.h"
#include "reader/reader_document.h"
#include "reader/ui/pane_keys.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFont>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ombri::reader {

namespace {

// One zoom step, from the keys, the menu or a notch of the wheel with Ctrl held.
constexpr float kZoomInFactor = 1.25f;
constexpr float kZoomOutFactor = 0.8f;

// Sizes and positions are truncated toward zero. Zoom has no limits, so the products are held
// to a range where pixel arithmetic cannot overflow.
int truncated(double value)
{
    constexpr double kLimit = 1 << 30;
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

// The Color menu's items that choose a colour without asking for one.
bool isNoteColourCommand(int command)
{
    return cmd::isColourMenuCommand(command) && command != cmd::ColourSelected;
}

constexpr uint16_t kQuarterTurnFlags = kFlagRotatedClockwise | kFlagRotatedAnticlockwise;

// The turns and flips in force as the renderer maps shown pixels to stored ones: the turn comes
// first, then the flips of the turned picture.
ScreenAxes screenAxesOf(uint16_t flags)
{
    const bool acrossFlip = flags & kFlagFlipHorizontal;
    const bool downFlip = flags & kFlagFlipVertical;
    if (flags & kFlagRotatedClockwise)
        return {true, downFlip, !acrossFlip};
    if (flags & kFlagRotatedAnticlockwise)
        return {true, !downFlip, acrossFlip};
    if (flags & kFlagRotated180)
        return {false, !acrossFlip, !downFlip};
    return {false, acrossFlip, downFlip};
}

// Fit Width, and Fit Height with the roles of the axes exchanged. The first scale leaves room
// for the scroll bar across the picture's long side; when the picture turns out short enough
// not to need it, the whole width is used after all.
Placement fitAlong(double along, double across, double space, double spaceAcross, int barAcross,
                   int barAlong)
{
    double scale = (space - barAcross) / along;
    if (truncated(scale * across) < spaceAcross + barAlong)
        scale = space / along;
    Placement placement;
    placement.zoom = static_cast<float>(scale);
    placement.destination = QRect(0, 0, truncated(scale * along), truncated(scale * across));
    return placement;
}

} // namespace

Placement placePicture(ZoomMode mode, float zoom, QSize picture, const ViewGeometry& view)
{
    const double w = picture.width();
    const double h = picture.height();
    if (w <= 0 || h <= 0)
        return {QRect(), zoom};
    const double cw = view.client.width();
    const double ch = view.client.height();
    switch (mode) {
    case ZoomMode::FitIn: {
        const double scale = std::min(cw / w, ch / h);
        const int dw = truncated(w * scale);
        const int dh = truncated(h * scale);
        return {QRect(truncated((cw - dw) * 0.5), truncated((ch - dh) * 0.5), dw, dh),
                static_cast<float>(scale)};
    }
    case ZoomMode::FitWidth:
        return fitAlong(w, h, view.trueClient.width(), view.trueClient.height(),
                        view.verticalBarWidth, view.horizontalBarHeight);
    case ZoomMode::FitHeight: {
        Placement placement = fitAlong(h, w, view.trueClient.height(), view.trueClient.width(),
                                       view.horizontalBarHeight, view.verticalBarWidth);
        placement.destination = placement.destination.transposed();
        return placement;
    }
    case ZoomMode::Free:
        break;
    }
    // A picture smaller than the view is centred; where it is larger it starts at the edge.
    const int dw = truncated(w * zoom);
    const int dh = truncated(h * zoom);
    return {QRect(std::max(0, truncated((cw - dw) * 0.5)), std::max(0, truncated((ch - dh) * 0.5)),
                  dw, dh),
            zoom};
}

ImageView::ImageView(ReaderDocument& document, QWidget* parent)
    : QAbstractScrollArea(parent), m_doc(document)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    // Every pixel comes from the frame image; Qt need not clear the window first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_doc.setImagePane(this);
}

ImageView::~ImageView()
{
    m_doc.setImagePane(nullptr);
}

bool ImageView::hasPicture() const
{
    return m_doc.hasImage();
}

QPoint ImageView::scrollPosition() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QSize ImageView::clientSize() const
{
    return viewport()->size();
}

double ImageView::deviceScale() const
{
    return viewport()->devicePixelRatio();
}

QSize ImageView::deviceClientSize() const
{
    return (QSizeF(clientSize()) * deviceScale()).toSize();
}

QPoint ImageView::deviceScrollPosition() const
{
    // The scroll range is rounded up to whole logical pixels; the last step stops at the
    // picture's edge rather than showing part of a pixel past it.
    const double scale = deviceScale();
    const QPoint position = scrollPosition();
    const QSize client = deviceClientSize();
    return QPoint(
        std::min(qRound(position.x() * scale), std::max(0, m_destination.width() - client.width())),
        std::min(qRound(position.y() * scale),
                 std::max(0, m_destination.height() - client.height())));
}

ImageView::Inspection ImageView::inspect() const
{
    Inspection seen;
    seen.zoomMode = m_zoomMode;
    seen.zoom = m_zoom;
    seen.showNotes = m_showNotes;
    seen.moveCursor = showsMoveCursor();
    seen.scroll = scrollPosition();
    seen.client = clientSize();
    seen.deviceScale = deviceScale();
    seen.deviceScroll = deviceScrollPosition();
    seen.deviceClient = deviceClientSize();
    seen.destination = m_destination;
    seen.frame = m_frame;
    seen.pictureConversions = m_conversions;
    seen.message = m_message;
    return seen;
}

// ---- the document's requests -------------------------------------------------------------

void ImageView::setShowNotes(bool show)
{
    m_showNotes = show;
}

void ImageView::redrawNow(Background background)
{
    if (background == Background::Keep)
        RedrawWithoutErase();
    else
        repaintNow();
}

void ImageView::invalidate()
{
    layoutPicture();
    m_frameStale = true;
    viewport()->update();
}

void ImageView::RedrawWithoutErase()
{
    m_eraseBackground = false;
    repaintNow();
    m_eraseBackground = true;
}

// ---- layout and painting -----------------------------------------------------------------

ScreenPicture& ImageView::screenPicture()
{
    if (!hasPicture()) {
        // The copy goes with the picture: it is as large as the picture itself.
        m_screen.clear();
        m_screenFrom.reset();
        return m_screen;
    }
    const Adjustments& adjustments = m_doc.adjustments();
    const ScreenSource source{m_doc.pictureVersion(), adjustments.code,
                              static_cast<uint16_t>(adjustments.flags & ~kGeometricFlags),
                              m_doc.showsTransparency()};
    if (m_screenFrom == source)
        return m_screen;
    ++m_conversions;
    // The old copy is let go first, so that two are never held at once.
    m_screen.clear();
    const Dib& picture = m_doc.displaySource();
    const bool recoloured = !Adjustments{source.code, source.colourFlags}.isIdentity();
    const Dib recolouredCopy =
        recoloured ? makeAdjustedCopy(picture, source.code, source.colourFlags, nullptr, nullptr)
                   : Dib();
    const Dib& shown = recolouredCopy.isNull() ? picture : recolouredCopy;
    // Notes are drawn only over the pictures that can carry them, as on paper.
    const uint16_t bitCount = DibGetBitCount(shown);
    const bool carrier = (bitCount == 24 || bitCount == 32) && m_doc.hasNoteLayer() &&
                         m_doc.noteLayer()->size() == static_cast<size_t>(m_doc.width()) *
                                                          static_cast<size_t>(m_doc.height());
    m_screen.setPicture(ScreenPicture::fromDib(shown, source.transparency),
                        carrier ? m_doc.noteLayer()->data() : nullptr,
                        bitCount == 32 ? NoteDepth::Bits32 : NoteDepth::Bits24);
    m_screenFrom = source;
    return m_screen;
}

ScreenFrame ImageView::frameRequest() const
{
    const uint16_t flags = m_doc.adjustments().flags;
    ScreenFrame request;
    request.destination = m_destination.translated(-deviceScrollPosition());
    request.axes = screenAxesOf(flags);
    request.smoothShrinking = m_smoothShrinking;
    request.showNotes = m_showNotes;
    request.noteColour = m_doc.noteColour().colourRef();
    request.noteLook = m_doc.complementNotes() ? NoteLook::Complemented
                       : m_doc.antiAliasing()  ? NoteLook::Blended
                                               : NoteLook::Painted;
    return request;
}

void ImageView::setSmoothShrinking(bool smooth)
{
    if (smooth == m_smoothShrinking)
        return;
    m_smoothShrinking = smooth;
    m_frameStale = true;
    viewport()->update();
}

ViewGeometry ImageView::geometry() const
{
    // The picture is placed in screen pixels, so that zoom 1 is one picture pixel per screen
    // pixel on a scaled display too.
    const double scale = deviceScale();
    ViewGeometry view;
    view.client = deviceClientSize();
    view.trueClient = (QSizeF(maximumViewportSize()) * scale).toSize();
    view.verticalBarWidth = qRound(verticalScrollBar()->sizeHint().width() * scale);
    view.horizontalBarHeight = qRound(horizontalScrollBar()->sizeHint().height() * scale);
    return view;
}

void ImageView::layoutPicture()
{
    // Setting the scroll ranges shows or hides the scroll bars, which resizes the visible area
    // and asks for a layout in the middle of this one: that request is taken up afterwards.
    // Never called while painting, as it may resize the window being painted.
    if (m_layingOut) {
        m_layoutAgain = true;
        return;
    }
    m_layingOut = true;
    for (int pass = 0; pass < 3; ++pass) {
        m_layoutAgain = false;
        const QSize stored = screenPicture().size();
        m_pictureSize =
            m_doc.adjustments().flags & kQuarterTurnFlags ? stored.transposed() : stored;
        if (m_pictureSize.isEmpty()) {
            m_destination = QRect();
        } else {
            const Placement placement = placePicture(m_zoomMode, m_zoom, m_pictureSize, geometry());
            m_destination = placement.destination;
            m_zoom = placement.zoom;
        }
        const QSize client = clientSize();
        QScrollBar* across = horizontalScrollBar();
        QScrollBar* down = verticalScrollBar();
        across->setPageStep(std::max(1, client.width()));
        down->setPageStep(std::max(1, client.height()));
        across->setSingleStep(std::max(1, client.width() / 10));
        down->setSingleStep(std::max(1, client.height() / 10));
        // The bars count logical pixels; a part of one left over still scrolls into view.
        const QSize deviceClient = deviceClientSize();
        const double scale = deviceScale();
        const auto range = [scale](int overhang) {
            return std::max(0, static_cast<int>(std::ceil(overhang / scale)));
        };
        across->setRange(0, range(m_destination.width() - deviceClient.width()));
        down->setRange(0, range(m_destination.height() - deviceClient.height()));
        // The scroll area shows or hides its bars on a queued call; taking it now settles the
        // visible area before anything is painted into it.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (!m_layoutAgain)
            break;
    }
    m_layingOut = false;
    m_laidOutScale = deviceScale();
    updateCursor();
}

bool ImageView::backgroundCovered() const
{
    if (m_pictureSize.isEmpty())
        return false;
    const QSize client = deviceClientSize();
    return static_cast<float>(m_pictureSize.width()) * m_zoom >
               static_cast<float>(client.width()) &&
           static_cast<float>(m_pictureSize.height()) * m_zoom >
               static_cast<float>(client.height());
}

void ImageView::renderFrame()
{
    const QSize client = deviceClientSize();
    if (m_frame.size() != client) {
        m_frame = QImage(client, QImage::Format_RGB32);
        m_frame.fill(toQColor(m_background));
    }
    m_frameStale = false;
    if (m_frame.isNull())
        return;
    // The frame is drawn in its own pixels, then told how many of them make a logical pixel so
    // that the window copies it to the screen unscaled.
    m_frame.setDevicePixelRatio(1.0);
    struct KeepScale {
        QImage& frame;
        double scale;
        ~KeepScale() { frame.setDevicePixelRatio(scale); }
    } keepScale{m_frame, deviceScale()};
    QPainter painter(&m_frame);
    // A picture that overlaps the view on both axes hides every background pixel anyway.
    if (m_eraseBackground && !backgroundCovered())
        painter.fillRect(m_frame.rect(), toQColor(m_background));
    if (m_destination.isEmpty()) {
        drawUnshownReason(painter);
        return;
    }
    m_message.clear();
    painter.end();
    screenPicture().render(m_frame, frameRequest());
}

void ImageView::drawUnshownReason(QPainter& painter)
{
    m_message = hasPicture() ? QString() : QString::fromStdString(m_doc.unshownReason());
    if (m_message.isEmpty())
        return;
    // Painted over the last frame without erasing, the text of the file before would show
    // through this one.
    painter.fillRect(m_frame.rect(), toQColor(m_background));
    const QColor background = toQColor(m_background);
    painter.setPen(qGray(background.rgb()) < 128 ? Qt::white : Qt::black);
    // The frame is painted in screen pixels: the text keeps the size of the window's other text.
    QFont font = this->font();
    font.setPixelSize(std::max(1, qRound(QFontInfo(this->font()).pixelSize() * deviceScale())));
    painter.setFont(font);
    const int margin = qRound(8 * deviceScale());
    painter.drawText(m_frame.rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignCenter | Qt::TextWordWrap, m_message);
}

void ImageView::repaintNow()
{
    layoutPicture();
    renderFrame();
    viewport()->repaint();
}

void ImageView::paintEvent(QPaintEvent* event)
{
    // Placing the picture may resize the view being painted: it is done after this paint.
    if (m_laidOutScale != deviceScale() && !m_placeAgainQueued) {
        m_placeAgainQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_placeAgainQueued = false;
                repaintNow();
            },
            Qt::QueuedConnection);
    }
    if (m_frameStale || m_frame.size() != deviceClientSize() ||
        m_frame.devicePixelRatio() != deviceScale())
        renderFrame();
    QPainter painter(viewport());
    const QRect area = event->rect();
    const double scale = m_frame.devicePixelRatio();
    painter.drawImage(QRectF(area), m_frame,
                      QRectF(QPointF(area.topLeft()) * scale, QSizeF(area.size()) * scale));
}

void ImageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_layingOut) {
        m_layoutAgain = true;
        m_frameStale = true;
        return;
    }
    layoutPicture();
    renderFrame();
}

void ImageView::scrollContentsBy(int, int)
{
    if (m_layingOut) {
        m_frameStale = true;
        return;
    }
    renderFrame();
    viewport()->update();
}

void ImageView::setBackgroundColour(ColourRef colour)
{
    m_background = colour;
    m_frameStale = true;
    viewport()->update();
}

// ---- commands ----------------------------------------------------------------------------

bool ImageView::isViewCommand(int command)
{
    return std::find(std::begin(kCommands), std::end(kCommands), command) != std::end(kCommands);
}

bool ImageView::isCheckableCommand(int command)
{
    switch (command) {
    case cmd::ZoomIn:
    case cmd::ZoomOut:
    case cmd::Delete:
    case cmd::Print:
    case cmd::PrintPreview:
        return false;
    default:
        return isViewCommand(command);
    }
}

bool ImageView::isCommandEnabled(int command) const
{
    switch (command) {
    case cmd::DisplayNotes:
        return m_doc.isCommandEnabled(command);
    case cmd::OriginalSize:
    case cmd::ZoomIn:
    case cmd::ZoomOut:
    case cmd::FitIn:
    case cmd::FitWidth:
    case cmd::FitHeight:
    case cmd::Print:
    case cmd::PrintPreview:
        return hasPicture();
    case cmd::Delete:
        return hasPicture() && m_hooks.deletePicture;
    default:
        return cmd::isColourMenuCommand(command) && m_doc.isCommandEnabled(command);
    }
}

bool ImageView::isCommandChecked(int command) const
{
    switch (command) {
    case cmd::DisplayNotes:
        return m_showNotes;
    case cmd::OriginalSize:
        return m_zoom == 1.0f;
    case cmd::FitIn:
    case cmd::FitWidth:
    case cmd::FitHeight:
        return static_cast<int>(m_zoomMode) == command;
    default:
        return cmd::isColourMenuCommand(command) && m_doc.isCommandChecked(command);
    }
}

bool ImageView::onCommand(int command)
{
    switch (command) {
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
    case cmd::FitWidth:
    case cmd::FitHeight:
        onFitCommand(static_cast<ZoomMode>(command));
        return true;
    case cmd::ColourSelected:
        onSelectedColour();
        return true;
    case cmd::Delete:
        onDelete();
        return true;
    case cmd::Print:
        onPrint();
        return true;
    case cmd::PrintPreview:
        onPrintPreview();
        return true;
    default:
        if (!isNoteColourCommand(command))
            return false;
        onNoteColourCommand(command);
        return true;
    }
}

void ImageView::onDisplayNotes()
{
    // The document flips the flag through setShowNotes, drops its copy and repaints the view.
    m_doc.toggleDisplayNotes();
}

void ImageView::onOriginalSize()
{
    if (m_zoom == 1.0f)
        return;
    m_zoom = 1.0f;
    m_zoomMode = ZoomMode::Free;
    repaintNow();
}

void ImageView::onZoomIn()
{
    m_zoomMode = ZoomMode::Free;
    m_zoom *= kZoomInFactor;
    repaintNow();
}

void ImageView::onZoomOut()
{
    m_zoomMode = ZoomMode::Free;
    m_zoom *= kZoomOutFactor;
    repaintNow();
}

void ImageView::onFitCommand(ZoomMode mode)
{
    if (mode == m_zoomMode) {
        m_zoomMode = ZoomMode::Free;
        m_zoom = 1.0f;
    } else {
        m_zoomMode = mode;
    }
    repaintNow();
}

void ImageView::onNoteColourCommand(int command)
{
    // The document repaints the view when the choice changed anything.
    m_doc.onNoteColourCommand(command);
}

void ImageView::onSelectedColour()
{
    const NoteColour current = m_doc.noteColour();
    const auto chosen = m_doc.prompt().chooseColour(Rgb{current.red, current.green, current.blue});
    if (chosen)
        m_doc.onColourChosen(NoteColour{chosen->red, chosen->green, chosen->blue});
}

void ImageView::onDelete()
{
    if (hasPicture() && m_hooks.deletePicture)
        m_hooks.deletePicture();
}

QImage ImageView::printedPicture(const Dib& display) const
{
    // Paper gets the whole display copy, converted for this page only. It has no checkerboard:
    // see-through pixels are laid over the page's own white.
    return m_doc.showsTransparency() ? dibOverWhite(display) : dibToQImage(display);
}

void ImageView::printPicture(QPaintDevice& page)
{
    const Dib* display = m_doc.BuildDisplayImage(m_showNotes);
    if (!display)
        return;
    const QImage picture = printedPicture(*display);
    if (picture.isNull())
        return;
    QPainter painter(&page);
    if (!painter.isActive())
        return;
    const QRect destination =
        printDestination(picture.width(), picture.height(), page.width(), page.height(),
                         page.logicalDpiX(), page.logicalDpiY());
    DibDraw(painter, destination, picture, picture.rect());
}

QPrinter& ImageView::printer()
{
    // Made on first use: finding the printers takes a moment.
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    m_printer->setDocName(QString::fromStdString(m_doc.getTitle()));
    return *m_printer;
}

void ImageView::onPrint()
{
    if (!hasPicture())
        return;
    QPrintDialog dialog(&printer(), this);
    if (dialog.exec() == QDialog::Accepted)
        printPicture(printer());
}

void ImageView::onPrintPreview()
{
    if (!hasPicture())
        return;
    QPrintPreviewDialog preview(&printer(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { printPicture(*target); });
    preview.exec();
}

// ---- input -------------------------------------------------------------------------------

bool ImageView::showsMoveCursor() const
{
    if (!hasPicture() || m_zoomMode == ZoomMode::FitIn || m_pictureSize.isEmpty())
        return false;
    const QSize client = deviceClientSize();
    return static_cast<float>(m_pictureSize.width()) * m_zoom >
               static_cast<float>(client.width()) ||
           static_cast<float>(m_pictureSize.height()) * m_zoom >
               static_cast<float>(client.height());
}

void ImageView::updateCursor()
{
    if (showsMoveCursor())
        viewport()->setCursor(Qt::SizeAllCursor);
    else
        viewport()->unsetCursor();
}

void ImageView::onLButtonDown(QPoint point)
{
    m_lastPoint = point;
}

void ImageView::onMouseMove(QPoint point, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    // Dragging with the left button alone pans; with any modifier key held it does nothing.
    constexpr Qt::KeyboardModifiers kModifierKeys =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (buttons != Qt::LeftButton || (modifiers & kModifierKeys))
        return;
    const QPoint distance = m_lastPoint - point;
    OnScrollBy(QSize(distance.x(), distance.y()));
    m_lastPoint = point;
}

void ImageView::onMouseWheel(int delta)
{
    OnScrollBy(QSize(0, -delta / 5));
}

void ImageView::onZoomWheel(int delta, QPointF pointer)
{
    constexpr int kNotch = 120;
    if (!hasPicture())
        return;
    // Turned back the other way, what was left of the last notch no longer counts.
    if ((delta > 0) != (m_zoomWheelTurned > 0))
        m_zoomWheelTurned = 0;
    m_zoomWheelTurned += delta;
    while (m_zoomWheelTurned >= kNotch) {
        m_zoomWheelTurned -= kNotch;
        zoomAbout(kZoomInFactor, pointer);
    }
    while (m_zoomWheelTurned <= -kNotch) {
        m_zoomWheelTurned += kNotch;
        zoomAbout(kZoomOutFactor, pointer);
    }
}

void ImageView::zoomAbout(float factor, QPointF pointer)
{
    // The picture's point under the pointer, in picture pixels, is found in the old placement
    // and brought back under the pointer in the new one. The scroll bars count logical pixels;
    // the placement counts screen pixels.
    const double scale = deviceScale();
    const QPointF onScreen = pointer * scale;
    const QPointF inPicture =
        (onScreen + QPointF(deviceScrollPosition()) - QPointF(m_destination.topLeft())) /
        static_cast<double>(m_zoom);
    m_zoomMode = ZoomMode::Free;
    m_zoom *= factor;
    layoutPicture();
    const QPointF scrolled =
        inPicture * static_cast<double>(m_zoom) + QPointF(m_destination.topLeft()) - onScreen;
    // Both bars move before the frame is drawn, once, as after a layout.
    m_layingOut = true;
    horizontalScrollBar()->setValue(qRound(scrolled.x() / scale));
    verticalScrollBar()->setValue(qRound(scrolled.y() / scale));
    m_layingOut = false;
    renderFrame();
    viewport()->repaint();
}

bool ImageView::OnScrollBy(QSize distance)
{
    const QPoint before = scrollPosition();
    horizontalScrollBar()->setValue(before.x() + distance.width());
    verticalScrollBar()->setValue(before.y() + distance.height());
    return scrollPosition() != before;
}

bool ImageView::onSideKey(bool forward)
{
    QScrollBar* across = horizontalScrollBar();
    const int edge = forward ? across->maximum() : across->minimum();
    if (across->value() != edge) {
        across->triggerAction(forward ? QAbstractSlider::SliderSingleStepAdd
                                      : QAbstractSlider::SliderSingleStepSub);
        return true;
    }
    if (m_hooks.stepPicture)
        m_hooks.stepPicture(forward);
    return true;
}

bool ImageView::onKeyDown(int key, Qt::KeyboardModifiers modifiers)
{
    const bool keypad = modifiers & Qt::KeypadModifier;
    const bool plain = (modifiers | Qt::KeypadModifier) == Qt::KeypadModifier;
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!plain)
            return false;
        return onSideKey(key == Qt::Key_Right);
    case Qt::Key_Backspace:
        if (modifiers != Qt::NoModifier)
            return false;
        if (m_hooks.stepPicture)
            m_hooks.stepPicture(false);
        return true;
    case Qt::Key_Escape:
        if (m_hooks.leaveFullScreen)
            m_hooks.leaveFullScreen();
        return false;
    case Qt::Key_Space:
        if (!m_doc.hasNoteLayer())
            return false;
        onDisplayNotes();
        return true;
    case Qt::Key_Delete:
        if (!isDeleteKey(key, modifiers))
            return false;
        onDelete();
        return true;
    default:
        break;
    }
    // The zoom keys act as their commands do, which need a picture. The keypad's plus and minus
    // are the menu's own shortcuts and are not passed on; the others are.
    if (!hasPicture())
        return false;
    switch (key) {
    case Qt::Key_0:
        if (!keypad)
            onOriginalSize();
        return false;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        onZoomIn();
        return keypad;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        onZoomOut();
        return keypad;
    default:
        return false;
    }
}

void ImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        onLButtonDown(event->position().toPoint());
    else
        QAbstractScrollArea::mousePressEvent(event);
}

void ImageView::mouseMoveEvent(QMouseEvent* event)
{
    onMouseMove(event->position().toPoint(), event->buttons(), event->modifiers());
}

void ImageView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier)
        onZoomWheel(event->angleDelta().y(), event->position());
    else
        onMouseWheel(event->angleDelta().y());
    event->accept();
}

void ImageView::keyPressEvent(QKeyEvent* event)
{
    if (onKeyDown(event->key(), event->modifiers()))
        event->accept();
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void ImageView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ImageView::dropEvent(QDropEvent* event)
{
    event->acceptProposedAction();
    // The picture dropped here is what the user now points at: Delete and the stepping keys act
    // on it, not on the pane used before the drop.
    setFocus(Qt::MouseFocusReason);
    onDropUrls(event->mimeData()->urls());
}

bool ImageView::onDropUrls(const QList<QUrl>& urls)
{
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return false;
    return onDropFile(urls.first().toLocalFile().toStdString());
}

bool ImageView::onDropFile(const std::string& path)
{
    // A dropped picture keeps the notes shown or hidden, even when the tree's selection has
    // already opened it the way a click does, which hides them.
    const bool show = m_showNotes;
    if (m_hooks.goToPath)
        m_hooks.goToPath(path);
    m_showNotes = show;
    const bool opened = m_doc.OnOpenDocument(path);
    // A failed open has emptied the document: the view then shows no picture.
    redrawNow(Background::Erase);
    if (opened)
        emit pictureOpened(QString::fromStdString(path));
    return opened;
}

} // namespace ombri::reader
