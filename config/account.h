#ifndef VANTOREL_ACCOUNT_H
#define VANTOREL_ACCOUNT_H

#include <QString>

// The account on this computer, as the system tells it to programs; its home folder's name
// last. What the audit trail and a signature name as the one who acted.
QString accountName();

#endif
