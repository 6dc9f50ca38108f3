#include "net/request_pace.h"

#include "net/network_policy.h"

#include <QtGlobal>

namespace fetch {

int fruitlessPauseMs(int inRow)
{
    return 1000 << qBound(0, inRow - 1, 6);
}

void noteFruitlessRequest()
{
    policy().noteFruitlessRequest();
}

int msUntilFruitlessAllowed()
{
    return policy().msUntilFruitlessAllowed();
}

void forgetFruitlessRequests()
{
    policy().forgetFruitlessRequests();
}

}  // namespace fetch
