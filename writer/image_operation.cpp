#include "writer/image_operation.h"

namespace ombri::writer {

void ImageOperation::DeleteContents()
{
    m_pixelWords.clear();
    m_pixelWords.shrink_to_fit();
    m_foundSignature = {};
    WriterDocument::DeleteContents();
}

void ImageOperation::ClearNotes()
{
    if (!hasImage())
        return;
    for (uint32_t& word : m_pixelWords)
        word &= ~uint32_t{1};
    WriterDocument::ClearNotes();
}

} // namespace ombri::writer
