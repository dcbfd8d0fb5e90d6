// The names container kinds are given out by.
#include "engine/container.h"

namespace quarn {

const char* ContainerKindName(TContainerKind kind) {
  switch (kind) {
    case TContainerKind::Zip:
      return "zip";
    case TContainerKind::Gzip:
      return "gzip";
    case TContainerKind::Png:
      return "png";
    case TContainerKind::Pdf:
      return "pdf";
    case TContainerKind::GitObject:
      return "git-object";
    case TContainerKind::GitPack:
      return "git-pack";
    case TContainerKind::None:
      break;
  }
  return "";
}

}  // namespace quarn
