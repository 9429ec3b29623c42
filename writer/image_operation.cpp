#include "writer/image_operation.h"

namespace ombri::writer {

void ImageOperation::DeleteContents()
{
    m_pixelWords.clear();
    m_pixelWords.shrink_to_fit();
    m_foundSignature = {};
    std::vector<uint8_t>().swap(m_colourProfile);
    WriterDocument::DeleteContents();
}

} // namespace ombri::writer
