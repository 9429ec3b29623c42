#include "writer/image_operation.h"

namespace ombri {

void ImageOperation::DeleteContents()
{
    m_pixelWords.clear();
    m_pixelWords.shrink_to_fit();
    CScrivoDoc::DeleteContents();
}

} // namespace ombri
