// The service's JSON queries: one POST each, its answer parsed, and every way
// it can fail told as a QueryError the page can show.
import { byteString, byteText, display } from "./names.js";

// The service does not answer URIs it does not know; without a limit the page
// would wait for ever.
const QUERY_TIMEOUT_MS = 60000;

// `result` is the service's result code (null when none came), `info` its
// "errorinfo" as a byte string.
export class QueryError extends Error {
  constructor(message, result = null, info = "") {
    super(message);
    this.result = result;
    this.info = info;
  }
}

// Called with the number of requests out each time it changes.
let onRequests = () => {};
let out = 0;

// Shows `element` once requests have been out for `afterMs`, and hides it
// when none is.
export function showWhileBusy(element, afterMs) {
  let timer = null;
  watchRequests((out) => {
    clearTimeout(timer);
    if (out > 0) timer = setTimeout(() => { element.hidden = false; }, afterMs);
    else element.hidden = true;
  });
}

export function watchRequests(listener) {
  onRequests = listener;
}

// A kept-alive connection the service has closed fails the next request
// sent on it before any byte comes back; the queries only read, so sending
// again on a fresh connection is safe.
async function post(uri, body) {
  for (let attempt = 0; ; attempt++) {
    try {
      return await fetch(uri, { method: "POST", body, signal: AbortSignal.timeout(QUERY_TIMEOUT_MS) });
    } catch (err) {
      if (attempt > 0 || err.name === "TimeoutError") throw err;
    }
  }
}

// Posts `request` to `uri` and returns the answer when its "result" is 200.
// Names in the answer stay byte strings (see names.js).
export async function query(uri, request) {
  onRequests(++out);
  try {
    return await ask(uri, request);
  } finally {
    onRequests(--out);
  }
}

async function ask(uri, request) {
  let reply;
  try {
    reply = await post(uri, byteString(JSON.stringify(request)));
  } catch (err) {
    const why = err.name === "TimeoutError" ? `no answer within ${QUERY_TIMEOUT_MS / 1000} s`
                                            : err.message;
    throw new QueryError(`The service did not answer ${uri} (${why}).`);
  }
  if (!reply.ok) throw new QueryError(`${uri} answered HTTP ${reply.status}.`);
  let answer;
  try {
    answer = JSON.parse(byteText(await reply.arrayBuffer()));
  } catch (err) {
    throw new QueryError(`${uri} answered something that is not JSON (${err.message}).`);
  }
  if (answer.result !== 200) {
    const why = answer.errorinfo ? display(answer.errorinfo) : "no reason given";
    throw new QueryError(`${uri} answered result ${answer.result}: ${why}`, answer.result,
                         answer.errorinfo || "");
  }
  return answer;
}

// The station names.
export async function stationList() {
  return (await query("/getStationList", {})).stationList || [];
}

// The names of the records of `station`.
export async function recordList(station) {
  return (await query("/getFileName_list", { groupName: station })).fileName_list || [];
}

// The "/getRecordInfo" record of `record` of `station`.
export async function recordInfo(station, record) {
  return (await query("/getRecordInfo", { groupName: station, fileName: record })).record;
}

// The "/getWaveform" answer for `channels` (selectors, see channels.js) over
// `window` in about `points` buckets.
export function waveform(station, record, channels, window, points) {
  return query("/getWaveform", {
    groupName: station, fileName: record, channelList: channels,
    from: window.from, to: window.to, points,
  });
}

// The "/getPhasors" answer for `channels` over `window` in `points` cycle
// ends; `sequence` (three selectors, or null) adds their sequence components.
export function phasors(station, record, channels, window, points, sequence) {
  return query("/getPhasors", {
    groupName: station, fileName: record, channelList: channels,
    from: window.from, to: window.to, points, ...(sequence ? { sequence } : {}),
  });
}

// The "/getHarmonics" answer for the cycle of `channel` that ends at sample `at`.
export function harmonics(station, record, channel, at) {
  return query("/getHarmonics", { groupName: station, fileName: record, channelList: [channel], at });
}

// The "/getEvents" answer: every change of every status channel.
export function events(station, record) {
  return query("/getEvents", { groupName: station, fileName: record });
}

// The "/exportRecord" file of `channels` over `window` in `format` ("cff" or
// "csv") as {blob, disposition}. Failures come as the JSON envelope, told
// from the file by the attachment header only a file carries.
export async function exportFile(station, record, channels, window, format) {
  onRequests(++out);
  try {
    const request = { groupName: station, fileName: record, channelList: channels,
                      from: window.from, to: window.to, format };
    let reply;
    try {
      reply = await post("/exportRecord", byteString(JSON.stringify(request)));
    } catch (err) {
      throw new QueryError(`The service did not answer /exportRecord (${err.message}).`);
    }
    if (!reply.ok) throw new QueryError(`/exportRecord answered HTTP ${reply.status}.`);
    const type = reply.headers.get("Content-Type") || "";
    const disposition = reply.headers.get("Content-Disposition") || "";
    if (!/^attachment/i.test(disposition)) {
      let answer;
      try {
        answer = JSON.parse(byteText(await reply.arrayBuffer()));
      } catch (err) {
        throw new QueryError(`/exportRecord answered neither a file nor JSON (${err.message}).`);
      }
      const why = answer.errorinfo ? display(answer.errorinfo) : "no reason given";
      throw new QueryError(`/exportRecord answered result ${answer.result}: ${why}`, answer.result,
                           answer.errorinfo || "");
    }
    return { blob: new Blob([await reply.arrayBuffer()], { type: type.split(";")[0] }), disposition };
  } finally {
    onRequests(--out);
  }
}
