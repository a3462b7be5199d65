// Placeholder until this part of the runtime is built.
export class TaskPool {
  constructor() {
    throw new Error("TaskPool is not built yet");
  }
}
