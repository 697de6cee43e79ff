#pragma once

#include <QIcon>

/// The program's icon: a stack of photo cards with a running number, drawn at every size.
QIcon programIcon();
