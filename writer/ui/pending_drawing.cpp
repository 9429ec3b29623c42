#include "writer/ui/pending_drawing.h"

#include <algorithm>

namespace ombri::writer {

size_t PendingDrawing::pixelCount() const
{
    return static_cast<size_t>(std::max(0, m_doc.width())) *
           static_cast<size_t>(std::max(0, m_doc.height()));
}

bool PendingDrawing::fitsPicture() const
{
    const size_t size = pixelCount();
    const auto fits = [&](const Layer& layer) { return !layer || layer->size() == size; };
    return m_doc.hasImage() && m_picture == m_doc.pictureGeneration() && fits(m_pending) &&
           fits(m_redoSlot);
}

void PendingDrawing::dropIfOtherPicture()
{
    if ((m_pending || m_redoSlot) && !fitsPicture())
        forgetAll();
}

void PendingDrawing::forgetAll()
{
    discard();
    dropRedo();
    m_picture = m_doc.pictureGeneration();
}

void PendingDrawing::discard()
{
    m_pending.reset();
    m_actions.clear();
    m_actionPixels.clear();
}

uint8_t* PendingDrawing::forDrawing()
{
    if (!m_doc.hasImage() || m_doc.width() < 1 || m_doc.height() < 1)
        return nullptr;
    dropIfOtherPicture();
    if (!m_pending) {
        m_pending.emplace(pixelCount(), uint8_t{0});
        m_picture = m_doc.pictureGeneration();
    }
    return m_pending->data();
}

void PendingDrawing::mark(int column, int row)
{
    const int width = m_doc.width();
    const int height = m_doc.height();
    if (!m_pending || column < 0 || row < 0 || column >= width || row >= height)
        return;
    const size_t index = static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width) +
                         static_cast<size_t>(column);
    if (index >= m_pending->size())
        return;
    uint8_t& pending = (*m_pending)[index];
    if (pending != 1) {
        startsDrawing();
        m_actionPixels.push_back(index);
    }
    pending = 1;
    ++m_writes;
}

void PendingDrawing::startFromNotes()
{
    discard();
    dropIfOtherPicture();
    if (const uint8_t* notes = m_doc.GetNoteLayer()) {
        m_pending.emplace(notes, notes + pixelCount());
        m_picture = m_doc.pictureGeneration();
    }
}

void PendingDrawing::erase(size_t index)
{
    if (!m_pending || index >= m_pending->size() || (*m_pending)[index] != 1)
        return;
    startsDrawing();
    (*m_pending)[index] = 0;
    m_actionPixels.push_back(index);
}

// The first pixel the activation marks or erases is new drawing: what Redo kept, in the tool's
// hands and the document's, would bring back a state that no longer leads here. A figure or a
// stroke that falls beside the picture marks none, and keeps them.
void PendingDrawing::startsDrawing()
{
    if (hasActions())
        return;
    dropRedo();
    m_doc.dropStepsAhead();
}

std::string PendingDrawing::lastActionName(const std::string& drawing) const
{
    return m_actions.empty() || !m_actionPixels.empty() ? drawing : m_actions.back().label;
}

void PendingDrawing::finishAction(const std::string& name)
{
    if (m_actionPixels.empty())
        return;
    m_actions.push_back(DrawnAction{name, std::move(m_actionPixels)});
    m_actionPixels.clear();
}

std::vector<DrawnAction> PendingDrawing::takeActions(const std::string& name)
{
    finishAction(name);
    std::vector<DrawnAction> actions = std::move(m_actions);
    m_actions.clear();
    return actions;
}

void PendingDrawing::commit(Joins joins, const std::string& name)
{
    dropIfOtherPicture();
    if (m_pending) {
        if (joins == Joins::Add)
            m_doc.mergeDrawing(m_pending->data(), takeActions(name));
        else
            m_doc.restrictDrawing(m_pending->data(), takeActions(name));
    }
    discard();
}

void PendingDrawing::undo(const std::string& name)
{
    finishAction(name);
    if (!hasActions()) {
        // A layer that holds nothing leaves what Redo would bring back as it is.
        m_pending.reset();
        return;
    }
    m_redoSlot = std::move(m_pending);
    m_redoActions = std::move(m_actions);
    discard();
}

std::string PendingDrawing::redoName() const
{
    return m_redoActions.empty() ? std::string("Drawing") : m_redoActions.back().label;
}

void PendingDrawing::redoIntoTool()
{
    if (!canRedo())
        return;
    m_pending = std::move(m_redoSlot);
    m_actions = std::move(m_redoActions);
    m_actionPixels.clear();
    dropRedo();
}

void PendingDrawing::redoIntoNotes()
{
    if (!canRedo())
        return;
    m_doc.mergeDrawing(m_redoSlot->data(), std::move(m_redoActions));
    dropRedo();
}

void PendingDrawing::dropRedo()
{
    m_redoSlot.reset();
    m_redoActions.clear();
}

} // namespace ombri::writer
