// Placeholder until this part of the runtime is built.
export class ReactiveSession {
  constructor() {
    throw new Error("ReactiveSession is not built yet");
  }
}
