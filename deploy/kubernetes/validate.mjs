// Every object of the manifests against the Kubernetes schemas (kubernetes-models: the
// API's OpenAPI schemas compiled as JSON Schema): types, required fields, formats. A
// field the API does not know passes here (the schemas leave additional properties
// open); the API server's strict field validation is what refuses those.
//   node validate.mjs FILE.yaml...   (NODE_PATH: where kubernetes-models and yaml are)
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";

const require = createRequire(path.join(process.env.NODE_PATH || ".", "x.js"));
const YAML = await import(require.resolve("yaml"));
const modelsRoot = path.dirname(require.resolve("kubernetes-models/package.json"));

// apiVersion "apps/v1" -> folder "apps/v1"; "v1" -> "v1".
async function modelFor(apiVersion, kind) {
  const file = path.join(modelsRoot, apiVersion, kind + ".js");
  try {
    return (await import(file))[kind];
  } catch {
    return null;
  }
}

let failures = 0;
let checked = 0;
for (const file of process.argv.slice(2)) {
  const docs = YAML.parseAllDocuments(readFileSync(file, "utf8"));
  for (const doc of docs) {
    if (doc.errors.length) {
      console.log(`${file}: YAML: ${doc.errors[0].message}`);
      failures++;
      continue;
    }
    const object = doc.toJS();
    if (!object) continue;
    const { apiVersion, kind } = object;
    if (kind === "Kustomization") continue;
    const Model = await modelFor(apiVersion, kind);
    if (!Model) {
      console.log(`${file}: no schema for ${apiVersion} ${kind}`);
      failures++;
      continue;
    }
    try {
      new Model(object).validate();
      checked++;
      console.log(`${file}: ${kind} ${object.metadata?.name}: valid`);
    } catch (e) {
      failures++;
      console.log(`${file}: ${kind} ${object.metadata?.name}: ${e.message}`);
    }
  }
}
console.log(`${checked} objects valid, ${failures} failures`);
process.exit(failures ? 1 : 0);
