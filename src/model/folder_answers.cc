#include "model/folder_answers.h"

namespace qlt {

namespace {

thread_local FolderAnswers* current = nullptr;

}  // namespace

FolderAnswers::FolderAnswers() {
  if (current) return;
  current = this;
  outermost_ = true;
}

FolderAnswers::~FolderAnswers() {
  if (outermost_) current = nullptr;
}

FolderAnswers::Remembered* FolderAnswers::of(const ManagedObject& folder) {
  return current ? &current->remembered_[{folder.managedObjectContext(), folder.objectID()}] : nullptr;
}

}  // namespace qlt
