#pragma once

namespace ovalis {

class AnnotationPage;
class Media;

// Writes an annotated page over its media's file, undoably: a backup first,
// then the page flattened at the image's size replaces the file (as the
// uuid-named JPEG), and the swap back is registered as "Annotate Image".
// The page is the media's image as the editor read it. A DICOM file is
// kept: the annotated page becomes a new medium after it (DicomDerivedImage).
// Main thread only.
class AnnotatedImageSave
{
public:
    // Answers whether the file was replaced. Every failure is logged and
    // leaves the media's file as it was.
    static bool save(Media *media, const AnnotationPage &page);
};

} // namespace ovalis
