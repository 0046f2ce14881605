#pragma once

namespace ovalis {

// The mark a drag or click in the annotation editor makes.
enum class AnnotationTool { arrow = 0, rectangle = 1, circle = 2, text = 3 };

} // namespace ovalis
