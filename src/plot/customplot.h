#pragma once

// QCustomPlot's header iterates with Qt's foreach in two of its templates, and
// the project builds without that keyword (QT_NO_FOREACH). Both loops run over a
// const QList member in a const function, where a range-based for is the same, so
// the keyword is lent to the header alone. Include QCustomPlot through this file.
#ifndef foreach
#define foreach(declaration, container) for (declaration : container)
#define KELDRO_LENT_FOREACH
#endif
#include <qcustomplot.h>
#ifdef KELDRO_LENT_FOREACH
#undef foreach
#undef KELDRO_LENT_FOREACH
#endif
