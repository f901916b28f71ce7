// A worker that answers requests by id, and can be ended and started afresh:
// Cancel ends the reducing worker in the middle of its work, and a worker
// whose core aborted (out of memory) is replaced the same way.

export class CoreWorker {
    constructor(onProgress = () => {}) {
        this.onProgress = onProgress;
        this.start();
    }

    start() {
        this.worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
        this.pending = new Map();
        this.nextId = 1;
        this.started = false;
        this.worker.onmessage = ({ data }) => {
            this.started = true;
            if (data.type === 'progress') {
                this.onProgress(data);
                return;
            }
            const request = this.pending.get(data.id);
            if (!request) return;
            this.pending.delete(data.id);
            if (data.type === 'done') {
                request.resolve(data.result);
            } else {
                request.reject(new Error(data.message));
                this.restart();  // its core may be unusable now
            }
        };
        this.worker.onerror = (event) => {
            event.preventDefault();
            // A worker that never answered could not load its scripts: starting
            // it again would fail again, over and over.
            this.broken = this.started ? null : `the page's worker could not start (${event.message || 'its scripts did not load'})`;
            const message = this.broken ?? event.message ?? 'the worker stopped';
            for (const request of this.pending.values()) request.reject(new Error(message));
            this.pending.clear();
            if (!this.broken) this.restart();
        };
    }

    // Ends the worker now; every request in flight is rejected as cancelled.
    restart() {
        this.worker.terminate();
        const pending = this.pending;
        this.start();
        for (const request of pending.values()) request.reject(Object.assign(new Error('cancelled'), { cancelled: true }));
    }

    request(type, message = {}, transfer = []) {
        if (this.broken) return Promise.reject(new Error(this.broken));
        const id = this.nextId++;
        return new Promise((resolve, reject) => {
            this.pending.set(id, { resolve, reject });
            this.worker.postMessage({ ...message, type, id }, transfer);
        });
    }
}
