#include "reader/type_description.h"

#include "formats/format_table.h"

namespace ombri::reader {

namespace {

struct KnownType {
    const char* extension;
    const char* description;
};

// The kinds of file the list names that are not pictures, searched from the top; an extension
// spelt in another case than those listed is not known. Pictures are named by their formats.
constexpr KnownType kKnownTypes[] = {
    {"pdf", "Adobe Acrobat Document"},
    {"psd", "Adobe Photoshop Image"},
    {"exe", "Application"},
    {"EXE", "Application"},
    {"dll", "Application Extension"},
    {"DLL", "Application Extension"},
    {"zip", "WinZip File"},
    {"cab", "WinZip File"},
    {"htm", "HTML Document"},
    {"html", "HTML Document"},
    {"doc", "Microsoft Word Document"},
    {"ppt", "Microsoft PowerPoint Presentation"},
    {"xls", "Microsoft Excel Worksheet"},
    {"chm", "Compiled HTML Help File"},
    {"css", "Cascading Style Sheet Document"},
    {"CPL", "Control Panel Extension"},
    {"cat", "Security Catalog"},
    {"CAT", "Security Catalog"},
    {"mp3", "Winamp File"},
    {"wma", "Winamp File"},
    {"inf", "Setup Information"},
    {"INF", "Setup Information"},
    {"ini", "Configuration Settings"},
    {"Ins", "Internet Communication Settings"},
    {"PNF", "Precompiled Setup Information"},
    {"sys", "System file"},
    {"SYS", "System file"},
    {"txt", "Text Document"},
    {"TXT", "Text Document"},
    {"xml", "XML Document"},
    {"avi", "Video Clip"},
    {"mpg", "Movie File (mpeg)"},
    {"swf", "Shockwave Flash Object"},
    {"ico", "Icon"},
    {"db", "Data Base File"},
    {"js", "JScript Script File"},
};

} // namespace

std::string TypeDescription(const std::string& extension)
{
    if (const ImageFormat* format = loadFormatForExtension(extension); format && format->typeText)
        return format->typeText;
    for (const auto& known : kKnownTypes) {
        if (extension == known.extension)
            return known.description;
    }
    if (extension.empty())
        return "File";
    return extension + " File";
}

} // namespace ombri::reader
